# Linked lists of 1,000 nodes built and dropped 2,000 times; each list walked and summed.
use strict; use warnings;
my $total = 0;
for my $r (1 .. 2000) {
    my $l;
    for my $i (1 .. 1000) { $l = [$i + $r, $l]; }
    while (defined $l) { $total += $l->[0]; $l = $l->[1]; }
}
print "$total\n";
