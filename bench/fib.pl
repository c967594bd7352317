# Recursive calls: the Fibonacci number 25 by naive recursion, computed five times.
use strict;
use warnings;

sub fib {
    my ($n) = @_;
    return $n if $n < 2;
    return fib($n - 1) + fib($n - 2);
}

for my $i (1 .. 5) {
    print fib(25), "\n";
}
