# ARBNO-based parsing, matched per line: lines of key=value; pairs are checked against the
# grammar and the last pair of each good line is taken apart.
use strict;
use warnings;
my ($good, $total, $keys) = (0, 0, 0);
for my $i (1 .. 50000) {
    my $line = 'id=' . $i . ';name=n' . ($i % 13) . ';';
    $line .= 'size=' . (($i * 7) % 1000) . ';' if $i % 3 > 0;
    $line .= 'bad pair;' if $i % 11 == 0;
    $line .= 'opt=;tag=t' . $i . ';' if $i % 5 > 1;
    next unless $line =~ /^(?:([a-z0-9]+)=([a-z0-9]*);)*$/;
    $good++;
    $total += length($2 // '');
    $keys += length($1 // '');
}
print "$good\n$total\n$keys\n";
