#!/usr/bin/env python3
"""Adds three months of daily runs of one site to a history file the program has made, for
pictures of the history window: most links stay, some are lost, some pages cannot be had. The
runs of unchanged checks are left to the program: copy the file with --copy-history to have them.
Usage: scripts/sample-history.py FILE [DOMAIN]"""
import base64
import hashlib
import random
import sqlite3
import sys
import time

path = sys.argv[1]
domain = sys.argv[2] if len(sys.argv) > 2 else "example.com"
random.seed(7)
db = sqlite3.connect(path)
addresses = [f"https://blog{n}.example.org/post/{n * 7}" for n in range(60)]
lost = set()
states = {}
address_ids = {}


def state_of(columns):
    """The id of a check's state (its columns as row_state keeps them), stored once, under the
    digest the program finds it by: each text after its length in UTF-16 units."""
    texts = [str(value) for value in columns]
    digest = hashlib.sha256(b"".join(b"%d:%s" % (len(t.encode("utf-16-le")) // 2, t.encode()) for t in texts))
    key = base64.b64encode(digest.digest()).decode()
    if key not in states:
        states[key] = db.execute(
            "INSERT INTO row_state (digest, final_address, verdict, outcome, page_had, http_status, failure_cause, "
            "attempts, failed_attempts, charset, robots) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
            [key] + columns).lastrowid
    return states[key]


day = 24 * 3600 * 1000
start = int(time.time() * 1000) - 90 * day
for number in range(90):
    started = start + number * day + random.randint(0, 3600_000)
    source = "search" if number % 7 == 0 else "recheck"
    cursor = db.execute(
        "INSERT INTO run (domain_name, source, started_at, ended_at, outcome, end_order) "
        "VALUES (?, ?, ?, ?, 'completed', (SELECT COALESCE(MAX(end_order), 0) + 1 FROM run))",
        (domain, source, started, started + 40_000))
    run = cursor.lastrowid
    listed = addresses[: 40 + number // 6]
    if random.random() < 0.08 and len(lost) < 15:
        lost.add(random.choice(listed))
    counts = {"valid": 0, "removed": 0, "unreachable": 0}
    for row, address in enumerate(listed, 1):
        if address in lost:
            outcome, status = "removed", 404
        elif random.random() < 0.05:
            outcome, status = "unreachable", 503
        else:
            outcome, status = ("passes-weight" if row % 4 else "no-weight"), 200
        verdict = "有效" if outcome in ("passes-weight", "no-weight") else "无效"
        counts["valid" if verdict == "有效" else outcome] += 1
        if address not in address_ids:
            address_ids[address] = db.execute("INSERT INTO address (domain_name, address) VALUES (?, ?)",
                                              (domain, address)).lastrowid
        db.execute(
            "INSERT INTO run_check (run_id, address_id, row_no, state_id, checked_at) VALUES (?, ?, ?, ?, ?)",
            (run, address_ids[address], row, state_of([address, verdict, outcome, 1, status, "", 1, "", "utf-8", ""]),
             started + row * 500))
    db.execute("UPDATE run SET row_count = ?, valid_count = ?, removed_count = ?, unreachable_count = ? WHERE id = ?",
               (len(listed), counts["valid"], counts["removed"], counts["unreachable"], run))
db.commit()
