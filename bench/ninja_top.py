#!/usr/bin/env python3
"""Prints the slowest steps of a ninja log (.ninja_log), slowest first."""
import argparse


def steps(path):
    """The last run of each output: ninja appends a line per build of it."""
    latest = {}
    with open(path, encoding="utf-8") as log:
        for line in log:
            if line.startswith("#"):
                continue
            start, end, _, output, _ = line.rstrip("\n").split("\t")
            latest[output] = (int(end) - int(start)) / 1000.0
    return latest


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("log", help="path of .ninja_log")
    parser.add_argument("-n", type=int, default=10, help="how many steps (default 10)")
    args = parser.parse_args()
    latest = steps(args.log)
    print(f"{len(latest)} steps, {sum(latest.values()):.1f} s in all; slowest {args.n}:")
    for output, seconds in sorted(latest.items(), key=lambda item: -item[1])[: args.n]:
        print(f"{seconds:7.1f} s  {output}")


if __name__ == "__main__":
    main()
