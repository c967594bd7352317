# Recursive calls: the Fibonacci number 25 by naive recursion, computed five times.
def fib(n):
    if n < 2:
        return n
    return fib(n - 1) + fib(n - 2)


for i in range(5):
    print(fib(25))
