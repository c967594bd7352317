# Field splitting: comma-separated records taken apart field by field, numbers picked out;
# the number of fields, the sum of the numeric ones, the longest name.
use strict;
use warnings;
my ($nf, $sum, $longest) = (0, 0, '');
for my $i (1 .. 100000) {
    my $line = 'rec' . $i . ',name' . (($i * 7) % 1000) . 'x,' . ($i % 97) . ',alpha beta,' . ($i * 3) . ',';
    while ($line =~ /([^,]*),/g) {
        my $f = $1;
        $nf++;
        if ($f =~ /^[0-9]+$/) {
            $sum += $f;
        } elsif (length($f) > length($longest)) {
            $longest = $f;
        }
    }
}
print "$nf\n$sum\n$longest\n";
