#!/usr/bin/env python3
"""Node rate beside a peer at fixed time, the engines taking turns.

Both engines stay running; on every position of every round each searches for the same
time, one right after the other (the order swaps from one search to the next), so a change
in the machine's load falls on both alike. Prints each engine's median node rate per
position, the median of the paired ratios and the ratio of the mean rates. The engines run
in a scratch directory, so the files they write (learning, saved games) go there.

Usage: tools/nps_compare.py [-r ROUNDS] [-t MS] [--hash MB] [ENGINE [PEER]]
(defaults: 3 rounds, 2000 ms, 64 MB, build/tavrix against /usr/games/toga2)
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile

# Middle games and endings, none of them a quick mate.
POSITIONS = [
    "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
    "r4rk1/1pp1qppp/p1np1n2/2b1p1B1/2B1P1b1/P1NP1N2/1PP1QPPP/R4RK1 w - - 0 10",
    "2r2rk1/1bqnbppp/p2ppn2/1p6/3NP3/1BN1BP2/PPPQ2PP/2KR3R w - - 0 13",
    "r1b2rk1/2q1bppp/p2p1n2/np2p3/3PP3/5N1P/PPBN1PP1/R1BQR1K1 w - - 0 13",
    "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1",
    "2r3k1/5pp1/p3p2p/1p6/3R4/P5P1/1P3PKP/8 w - - 0 30",
    "8/8/4kpp1/3p1b2/p6P/2B5/6P1/6K1 b - - 0 47",
    "6k1/p4pp1/1p5p/3n4/3P4/1P3N1P/P4PP1/6K1 w - - 0 32",
]


class Engine:
    def __init__(self, command, hash_mb, workdir):
        self.name = os.path.basename(command.split()[0])
        self.proc = subprocess.Popen(command.split(), stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL, text=True, bufsize=1, cwd=workdir)
        self.send("uci")
        self.wait_for("uciok")
        self.send(f"setoption name Hash value {hash_mb}")
        self.send("setoption name Threads value 1")
        self.ready()

    def send(self, line):
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()

    def wait_for(self, prefix):
        lines = []
        for line in self.proc.stdout:
            lines.append(line.strip())
            if line.startswith(prefix):
                return lines
        raise RuntimeError(f"{self.name} ended before '{prefix}'")

    def ready(self):
        self.send("isready")
        self.wait_for("readyok")

    def search(self, fen, ms):
        """Returns (nodes, milliseconds) of the last info line that gives both."""
        self.send("ucinewgame")
        self.ready()
        self.send(f"position fen {fen}")
        self.send(f"go movetime {ms}")
        nodes = time = None
        for line in self.wait_for("bestmove"):
            words = line.split()
            if words[:1] != ["info"] or "nodes" not in words or "time" not in words:
                continue
            nodes = int(words[words.index("nodes") + 1])
            time = int(words[words.index("time") + 1])
        if not nodes or not time:
            raise RuntimeError(f"{self.name} gave no nodes and time on {fen}")
        return nodes, time

    def close(self):
        self.send("quit")
        self.proc.wait(timeout=10)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("-r", "--rounds", type=int, default=3)
    parser.add_argument("-t", "--movetime", type=int, default=2000)
    parser.add_argument("--hash", type=int, default=64)
    parser.add_argument("engine", nargs="?", default=os.path.join(here, "..", "build", "tavrix"))
    parser.add_argument("peer", nargs="?", default="/usr/games/toga2")
    args = parser.parse_args()
    engine = os.path.abspath(args.engine) if os.path.exists(args.engine) else args.engine
    peer = os.path.abspath(args.peer) if os.path.exists(args.peer) else args.peer

    scratch = tempfile.TemporaryDirectory(prefix="nps_compare.")
    engines = [Engine(engine, args.hash, scratch.name), Engine(peer, args.hash, scratch.name)]
    rates = {i: {p: [] for p in range(len(POSITIONS))} for i in range(2)}
    ratios = []
    turn = 0
    for rnd in range(args.rounds):
        for p, fen in enumerate(POSITIONS):
            order = (0, 1) if turn % 2 == 0 else (1, 0)
            turn += 1
            got = {}
            for i in order:
                nodes, ms = engines[i].search(fen, args.movetime)
                got[i] = nodes * 1000 / ms
                rates[i][p].append(got[i])
            ratios.append(got[0] / got[1])
            print(f"round {rnd + 1} position {p + 1}: {got[0]:10.0f} {got[1]:10.0f}  ratio {got[0] / got[1]:.3f}",
                  flush=True)
    for e in engines:
        e.close()

    print(f"\n{'pos':>3} {engines[0].name:>12} {engines[1].name:>12}  ratio (medians)")
    for p in range(len(POSITIONS)):
        a = statistics.median(rates[0][p])
        b = statistics.median(rates[1][p])
        print(f"{p + 1:>3} {a:12.0f} {b:12.0f}  {a / b:.3f}")
    all_a = [r for p in rates[0].values() for r in p]
    all_b = [r for p in rates[1].values() for r in p]
    print(f"median nps: {engines[0].name} {statistics.median(all_a):.0f}, {engines[1].name} "
          f"{statistics.median(all_b):.0f}; median of paired ratios {statistics.median(ratios):.3f}")
    print(f"mean nps: {engines[0].name} {statistics.mean(all_a):.0f}, {engines[1].name} "
          f"{statistics.mean(all_b):.0f}; ratio of the means {statistics.mean(all_a) / statistics.mean(all_b):.3f}")
    scratch.cleanup()
    return 0


if __name__ == "__main__":
    sys.exit(main())
