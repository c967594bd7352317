# Tight arithmetic loop: integer additions, products, divisions and remainders.
use strict;
use warnings;
use integer;
my ($i, $s) = (0, 0);
while (1) {
    $i = $i + 1;
    $s = $s + ($i * 7) % 13 - $i / 3;
    last unless $i < 2000000;
}
print "$s\n";
