# String functions: records made by padding and repetition, cut apart, translated and trimmed.
use strict;
use warnings;
my $lower = 'abcdefghijklmnopqrstuvwxyz';
my ($i, $total) = (0, 0);
while (1) {
    $i = $i + 1;
    my $w = substr($lower, $i % 26, 5);
    (my $u = $w) =~ tr/a-z/A-Z/;
    my $r = sprintf('%08d', $i) . ':' . $u . (' ' x ($i % 4));
    (my $t = $r) =~ s/[ \t]+\z//;
    $total = $total + length($t) + length($r);
    print "$t\n" if $i % 50000 == 0;
    last unless $i < 500000;
}
print "$total\n";
