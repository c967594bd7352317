# Balanced parentheses: expressions made of nested brackets are checked whole by a
# recursive-descent parser, and their balanced units are counted.
use strict;
use warnings;
no warnings 'recursion';

sub nest {
    my ($n) = @_;
    return 'x' if $n == 0;
    return '(' . nest($n - 1) . '+' . ($n % 10) . ')';
}

sub expr;

sub term {
    my ($s, $i) = @_;
    my $len = length($s);
    if ($i < $len && substr($s, $i, 1) =~ /[0-9x]/) {
        $i++ while $i < $len && substr($s, $i, 1) =~ /[0-9x]/;
        return $i;
    }
    if ($i < $len && substr($s, $i, 1) eq '(') {
        my $j = expr($s, $i + 1);
        return $j + 1 if $j >= 0 && $j < $len && substr($s, $j, 1) eq ')';
    }
    return -1;
}

sub expr {
    my ($s, $i) = @_;
    my $len = length($s);
    $i = term($s, $i);
    while ($i >= 0 && $i < $len && index('+-*', substr($s, $i, 1)) >= 0) {
        my $j = term($s, $i + 1);
        last if $j < 0;
        $i = $j;
    }
    return $i;
}

sub units {
    my ($s) = @_;
    my ($count, $i, $len) = (0, 0, length($s));
    while ($i < $len) {
        my $c = substr($s, $i, 1);
        if ($c eq ')') { $i++; next; }
        if ($c eq '(') {
            my $depth = 0;
            while (1) {
                my $d = substr($s, $i, 1);
                $depth++ if $d eq '(';
                $depth-- if $d eq ')';
                $i++;
                last if $depth == 0;
            }
        } else {
            $i++;
        }
        $count++;
    }
    return $count;
}

my ($good, $unitcount) = (0, 0);
for my $i (1 .. 20000) {
    my $s = nest($i % 12) . '*' . nest($i % 5) . '-' . $i;
    $s .= ')' if $i % 7 == 0;
    $good++ if expr($s, 0) == length($s);
    $unitcount += units($s);
}
print "$good\n$unitcount\n";
