# Writes lines.txt (16 MiB of text lines of varied length) into the current folder.
import random

rng = random.Random(7)
words = ["alpha", "beta", "gamma", "delta", "record", "input", "line", "of", "text", "x"]
size = 0
with open("lines.txt", "w", newline="\n") as f:
    i = 0
    while size < 16 * 1024 * 1024:
        i += 1
        line = "%d %s" % (i, " ".join(rng.choice(words) for _ in range(rng.randint(0, 14))))
        f.write(line + "\n")
        size += len(line) + 1
