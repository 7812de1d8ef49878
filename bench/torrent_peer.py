#!/usr/bin/python3
"""A plain libtorrent 2.0 session for the torrent benchmark, at the library's
default settings (only the announcements to local networks are off, and it
listens on loopback).

  torrent_peer.py seed TORRENT FOLDER   seeds FOLDER's data; prints "ready"
                                        once seeding, runs until stdin closes
  torrent_peer.py fetch TORRENT FOLDER  downloads into FOLDER; exits 0 once
                                        every piece is there and checked
  torrent_peer.py make DATA TORRENT TRACKER
                                        writes TORRENT for the file or folder
                                        DATA, 1 MiB pieces, version 1,
                                        announced to TRACKER

Run with /usr/bin/python3: Debian's python3-libtorrent is built for it.
"""
import os
import socket
import sys
import time

import libtorrent as lt

FETCH_LIMIT = 900  # seconds


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def session(mode):
    pack = lt.default_settings()
    pack.update({
        # A port of its own: with port 0 the session announces port 0.
        "listen_interfaces": "127.0.0.1:%d" % free_port(),
        # Every contestant connects from 127.0.0.1: a seeder must take more
        # than one connection from it.
        "allow_multiple_connections_per_ip": mode == "seed",
        "enable_dht": False, "enable_lsd": False, "enable_upnp": False, "enable_natpmp": False,
        "alert_mask": 0,
    })
    return lt.session(pack)


def make(data, torrent, tracker):
    files = lt.file_storage()
    lt.add_files(files, data)
    # Version 1 only: aria2c knows no other, and would find no peers under
    # the hybrid torrent's other info-hash.
    creator = lt.create_torrent(files, 1024 * 1024, flags=lt.create_torrent.v1_only)
    creator.add_tracker(tracker)
    lt.set_piece_hashes(creator, os.path.dirname(os.path.abspath(data)))
    with open(torrent, "wb") as out:
        out.write(lt.bencode(creator.generate()))
    return 0


def main():
    if sys.argv[1] == "make":
        return make(*sys.argv[2:5])
    mode, torrent, folder = sys.argv[1:4]
    ses = session(mode)
    params = lt.add_torrent_params()
    params.ti = lt.torrent_info(torrent)
    params.save_path = folder
    if mode == "seed":
        params.flags |= lt.torrent_flags.seed_mode
    handle = ses.add_torrent(params)
    if mode == "seed":
        while not handle.status().is_seeding:
            time.sleep(0.05)
        print("ready", flush=True)
        sys.stdin.read()
        return 0
    deadline = time.monotonic() + FETCH_LIMIT
    while time.monotonic() < deadline:
        if handle.status().is_seeding:
            return 0
        time.sleep(0.02)
    return 1


if __name__ == "__main__":
    sys.exit(main())
