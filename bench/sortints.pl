# Sort of 1,000,000 integers (a pseudo-random sequence), ascending.
use strict; use warnings;
my $n = 1000000;
my @a;
my $x = 12345;
for (1 .. $n) { $x = ($x * 1103515245 + 12345) % 2147483648; push @a, $x; }
@a = sort { $a <=> $b } @a;
my $ck = 0;
$ck = ($ck * 31 + $_ % 1000) % 1000000007 for @a;
print "$a[0] $a[$n / 2 - 1] $a[$n - 1] $ck\n";
