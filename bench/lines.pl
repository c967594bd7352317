# Record input: a 16 MiB text file read line by line; the number of lines and of characters.
use strict;
my ($n, $t) = (0, 0);
open(my $f, '<', 'lines.txt') or die "lines.txt: $!";
while (my $line = <$f>) {
    chomp $line;
    $t += length($line);
    $n++;
}
close($f);
print "$n\n$t\n";
