# Linked lists of 1,000 nodes built and dropped 2,000 times; each list walked and summed.
class Node:
    __slots__ = ('val', 'next')
    def __init__(self, val, nxt):
        self.val = val
        self.next = nxt

def main():
    total = 0
    for r in range(1, 2001):
        l = None
        for i in range(1, 1001):
            l = Node(i + r, l)
        while l is not None:
            total += l.val
            l = l.next
    print(total)
main()
