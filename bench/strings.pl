# String building: lines made piece by piece by concatenation, restarted every 25 pieces.
use strict;
use warnings;
my ($i, $n, $l, $last) = (0, 0, '', '');
while (1) {
    $i = $i + 1;
    $l = $l . 'item' . $i . ',';
    if ($i % 25 == 0) {
        $n = $n + 1;
        $last = $l;
        $l = '';
    }
    last unless $i < 300000;
}
print "$n\n$last\n";
