# Tables: 1,000,000 distinct keys stored and read back, twice.
use strict; use warnings;
my $n = 1000000;
for my $round (1 .. 2) {
    my %t;
    $t{'K' . $_} = $_ for 1 .. $n;
    my $s = 0;
    $s += $t{'K' . $_} for 1 .. $n;
    print "$s\n";
}
