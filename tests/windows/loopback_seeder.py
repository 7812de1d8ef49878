"""A libtorrent session on 127.0.0.1 that seeds one file, for the Windows
service's torrent checks. Needs Debian's python3-libtorrent (/usr/bin/python3)."""
import os
import time

import libtorrent as lt

PIECE_BYTES = 16 * 1024
SEEDING_DEADLINE = 30  # seconds


class LoopbackSeeder:
    def __init__(self, folder, name, content):
        self.name, self.content = name, content
        path = os.path.join(folder, name)
        with open(path, "wb") as data:
            data.write(content)
        files = lt.file_storage()
        lt.add_files(files, path)
        creator = lt.create_torrent(files, PIECE_BYTES)
        lt.set_piece_hashes(creator, folder)
        self.torrent_file = path + ".torrent"
        with open(self.torrent_file, "wb") as torrent:
            torrent.write(lt.bencode(creator.generate()))
        self.session = lt.session({
            "listen_interfaces": "127.0.0.1:0", "alert_mask": 0, "enable_dht": False,
            "enable_lsd": False, "enable_upnp": False, "enable_natpmp": False,
            "allow_multiple_connections_per_ip": True})
        params = lt.add_torrent_params()
        params.ti = lt.torrent_info(self.torrent_file)
        params.save_path = folder
        params.flags &= ~(lt.torrent_flags.paused | lt.torrent_flags.auto_managed)
        self.handle = self.session.add_torrent(params)
        deadline = time.monotonic() + SEEDING_DEADLINE
        while self.handle.status().state != lt.torrent_status.seeding:
            assert time.monotonic() < deadline, "the seeder did not start seeding"
            time.sleep(0.05)

    def magnet(self):
        return lt.make_magnet_uri(self.handle) + "&x.pe=127.0.0.1:%d" % self.session.listen_port()

    def connect_to(self, port):
        self.handle.connect_peer(("127.0.0.1", port))

    def close(self):
        self.session.pause()
        del self.handle
        del self.session
