#!/usr/bin/env python3
"""Runs kv-sim on a script and checks its state dumps.

The checks file holds checkpoints. "@ N" runs the script for N frames in a
fresh copy of the game folder (its own empty save) and dumps the state; the
lines below it are checked against that dump:

    KEY == JSON        a value of the dump equals the JSON value
    KEY has JSON       a list in the dump holds the value (for "log": a line's text)
    KEY lacks JSON     ... does not hold it
    save has "TEXT"    the save file written by the run has this line

KEY is a dotted path into the dump (my.name, my.play_count.0); "menu" is the
list of the visible buttons' captions and "log" the non-empty log texts.
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile


def game_copy(game_dir, into):
    """A game folder sharing cg/ and dat/ files with game_dir, without its save."""
    os.symlink(os.path.join(game_dir, "cg"), os.path.join(into, "cg"))
    dat = os.path.join(into, "dat")
    os.mkdir(dat)
    src = os.path.join(game_dir, "dat")
    for name in os.listdir(src):
        if name.startswith("my.dat"):
            continue
        os.symlink(os.path.join(src, name), os.path.join(dat, name))


def lookup(dump, key):
    if key == "menu":
        return [m["caption"] for m in dump["menu"]]
    if key == "log":
        return [r["text"] for r in dump["log"] if r["text"]]
    value = dump
    for part in key.split("."):
        if isinstance(value, list):
            value = value[int(part)]
        else:
            value = value[part]
    return value


def script_until(script, frames, into):
    """The script's events before frame `frames` (kv-sim applies later ones at the end)."""
    kept = []
    with open(script, encoding="utf-8") as f:
        for line in f.read().splitlines():
            words = line.split()
            if not words or words[0].startswith("#") or int(words[0]) < frames:
                kept.append(line)
    with open(into, "w", encoding="utf-8") as f:
        f.write("\n".join(kept) + "\n")


def run(sim, game_dir, script, frames, seed, png):
    with tempfile.TemporaryDirectory(prefix="kvscen.") as tmp:
        game = os.path.join(tmp, "game")
        os.mkdir(game)
        game_copy(game_dir, game)
        script_until(script, frames, os.path.join(tmp, "script.txt"))
        script = os.path.join(tmp, "script.txt")
        dump_path = os.path.join(tmp, "dump.json")
        cmd = [sim, "--game-dir", game, "--seed", str(seed), "--frames", str(frames),
               "--script", script, "--dump", dump_path]
        if png:
            cmd += ["--png", png]
        subprocess.run(cmd, check=True)
        with open(dump_path, encoding="utf-8") as f:
            dump = json.load(f)
        save_lines = []
        save = os.path.join(game, "dat", "my.dat")
        if os.path.exists(save):
            with open(save, "rb") as f:
                save_lines = f.read().decode("cp932").split("\r\n")
        return dump, save_lines


def check(line, dump, save_lines):
    """Returns an error text, or None when the check holds."""
    if line.startswith("save has "):
        want = json.loads(line[len("save has "):])
        return None if want in save_lines else f"save file lacks line {want!r}"
    for op in (" == ", " has ", " lacks "):
        if op in line:
            key, literal = line.split(op, 1)
            want = json.loads(literal)
            try:
                got = lookup(dump, key.strip())
            except (KeyError, IndexError, ValueError):
                return f"no value {key.strip()!r} in the dump"
            if op == " == ":
                ok = got == want
            else:
                ok = (want in got) == (op == " has ")
            return None if ok else f"{key.strip()} is {json.dumps(got, ensure_ascii=False)}"
    return "unreadable check"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--sim", required=True)
    ap.add_argument("--game-dir", required=True)
    ap.add_argument("--script", required=True)
    ap.add_argument("--checks", required=True)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--png-dir", help="keep a picture of each checkpoint here")
    args = ap.parse_args()
    args.sim = os.path.abspath(args.sim)
    args.game_dir = os.path.abspath(args.game_dir)

    failures = 0
    dump = save_lines = None
    frames = None
    with open(args.checks, encoding="utf-8") as f:
        lines = f.read().splitlines()
    for no, raw in enumerate(lines, 1):
        line = raw.strip()
        if not line or line.startswith("#"):
            continue
        if line.startswith("@"):
            frames = int(line[1:])
            png = None
            if args.png_dir:
                os.makedirs(args.png_dir, exist_ok=True)
                base = os.path.splitext(os.path.basename(args.checks))[0]
                png = os.path.join(args.png_dir, f"{base}-{frames:04d}.png")
            dump, save_lines = run(args.sim, args.game_dir, args.script, frames, args.seed, png)
            continue
        if dump is None:
            print(f"{args.checks}:{no}: check before the first '@ FRAMES'")
            return 2
        error = check(line, dump, save_lines)
        if error:
            failures += 1
            print(f"{args.checks}:{no}: after {frames} frames: {line}\n    {error}")
    if failures:
        print(f"{failures} check(s) failed")
        return 1
    print("all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
