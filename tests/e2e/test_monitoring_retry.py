"""The monitoring's links to the world outlive a transient failure: the "self" link of the
controllers' folder is made once its name is free again, a check that cannot read /proc for
want of descriptors keeps the controller's status, and the SNMP agent link comes back after a
shortage of descriptors at its reconnect."""

import glob
import os
import shutil
import socket
import subprocess
import threading
import time
import unittest

import vxharness as vx
from test_resources import leave_free_descriptors, open_descriptors

import resource

NOTCONNECTION = "4"


class DroppingAgent:
    """An SNMP agent on loopback that counts the gateway's connections and can drop them."""

    def __init__(self):
        self.server = socket.create_server(("127.0.0.1", 0))
        self.port = self.server.getsockname()[1]
        self.lock = threading.Lock()
        self.conns = []
        self.accepted = 0
        self.fed = 0  # connections on which the gateway sent something
        threading.Thread(target=self._run, daemon=True).start()

    def _run(self):
        while True:
            try:
                conn, _ = self.server.accept()
            except OSError:
                return
            with self.lock:
                self.conns.append(conn)
                self.accepted += 1
            threading.Thread(target=self._drain, args=(conn,), daemon=True).start()

    def _drain(self, conn):
        try:
            if conn.recv(65536):
                with self.lock:
                    self.fed += 1
            while conn.recv(65536):
                pass
        except OSError:
            pass

    def drop(self):
        with self.lock:
            for conn in self.conns:
                conn.shutdown(socket.SHUT_RDWR)
                conn.close()
            self.conns = []

    def close(self):
        self.drop()
        self.server.close()


class MonitoringRetry(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.agent = DroppingAgent()
        cls.daemon = d = vx.Daemon(config="[snmpagent]\nhost = 127.0.0.1:%d\nname = quor\n" % cls.agent.port)
        d.start(wait=False)
        # The name of the controllers' folder is taken before the first controller check can make
        # it (the start's probe connection brings one): once the folders of the start are made,
        # the folder is emptied and stays so.
        cls.taken = d.path("/var/monitoring/controller")
        cls.taken_early = vx.wait_for(lambda: os.path.isdir(d.path("/var/monitoring/term_cnts")), 10) and \
            not os.path.exists(cls.taken)
        if cls.taken_early:
            with open(cls.taken, "w") as f:
                f.write("taken")
        d.wait_listening()
        cls.controller = None

    @classmethod
    def tearDownClass(cls):
        if cls.controller:
            cls.controller.kill()
            cls.controller.wait()
        cls.daemon.cleanup()
        cls.agent.close()

    def setUp(self):
        self.pid = self.daemon.pid()
        self.soft, self.hard = resource.prlimit(self.pid, resource.RLIMIT_NOFILE)

    def tearDown(self):
        resource.prlimit(self.pid, resource.RLIMIT_NOFILE, (self.soft, self.hard))

    def own_folder(self):
        return self.daemon.path("/var/monitoring/controller/self")

    def test_a_self_link_is_made_once_the_folder_name_is_free(self):
        self.assertTrue(self.taken_early, "the daemon checked the controller before the test could take the name")
        d = self.daemon
        self.assertTrue(vx.wait_for(lambda: "FAIL create monitoring catalog <%s/" % self.taken in d.output(), 10),
                        d.output()[-2000:])
        os.remove(self.taken)
        self.assertTrue(vx.wait_for(lambda: os.path.islink(self.own_folder()), 6), d.output()[-2000:])
        # (The link is made before the status file is written into the folder: on a busy machine
        # the test can look in between.)
        self.assertTrue(vx.wait_for(lambda: os.path.isfile(os.path.join(self.own_folder(), "status")), 6))

    def test_b_controller_status_kept_while_proc_cannot_be_read(self):
        d = self.daemon
        # The own controller's folder, the one folder of the controllers' (no controller reported
        # another).
        folders = d.path("/var/monitoring/controller")
        if os.path.isfile(self.taken):
            os.remove(self.taken)
        def statuses():
            return [p for p in glob.glob(folders + "/*/status") if not p.startswith(folders + "/self/")]
        self.assertTrue(vx.wait_for(lambda: len(statuses()) == 1, 10), d.output()[-2000:])
        status = statuses()[0]
        program = d.path("/controller")
        shutil.copy("/bin/sleep", program)
        type(self).controller = subprocess.Popen([program, "120"])
        self.assertTrue(vx.wait_for(lambda: vx.read(status) == NOTCONNECTION, 8), vx.read(status))
        line = "monitoring: can't look for the controller process"
        leave_free_descriptors(self, self.pid)
        self.assertTrue(vx.wait_for(lambda: line in d.output(), 8), d.output()[-2000:])
        self.assertEqual(vx.read(status), NOTCONNECTION)
        self.tearDown()
        # No "not running" was held meanwhile, to be written by the retry of the poll (2 s).
        self.assertFalse(vx.wait_for(lambda: vx.read(status) != NOTCONNECTION, 4), vx.read(status))
        # Once it can look again the process is found where it was.
        self.controller.kill()
        self.controller.wait()
        type(self).controller = None
        self.assertTrue(vx.wait_for(lambda: vx.read(status) == "5", 8), d.output()[-2000:])
        self.assertEqual(d.output().count(line), 1)

    def test_c_agent_link_comes_back_after_a_shortage_at_its_reconnect(self):
        d = self.daemon
        self.assertTrue(vx.wait_for(lambda: self.agent.accepted == 1, 5))
        before = len(open_descriptors(self.pid))
        self.agent.drop()
        # The link's descriptor must be gone before the limit is counted, or its close frees one.
        self.assertTrue(vx.wait_for(lambda: len(open_descriptors(self.pid)) < before))
        leave_free_descriptors(self, self.pid)
        # The reconnect comes 10 s after the loss and cannot make its socket.
        self.assertTrue(vx.wait_for(lambda: "can't create socket:Too many open files" in d.output(), 15),
                        d.output()[-2000:])
        time.sleep(0.5)
        self.tearDown()
        self.assertTrue(vx.wait_for(lambda: self.agent.accepted == 2, 25), d.output()[-2000:])
        self.assertEqual(d.output().count("can't create socket:"), 1, "logged once, not at every retry")

    def test_d_agent_link_whose_attempt_cannot_be_watched_is_tried_again(self):
        d = self.daemon
        self.assertTrue(vx.wait_for(lambda: len(self.agent.conns) == 1 and self.agent.fed >= 1, 15))
        fed = self.agent.fed
        before = len(open_descriptors(self.pid))
        self.agent.drop()
        self.assertTrue(vx.wait_for(lambda: len(open_descriptors(self.pid)) < before))
        # One descriptor free at the reconnect: the socket is made, its watch cannot be.
        leave_free_descriptors(self, self.pid, 1)
        # The reconnect 10 s after the loss: the agent takes the connection (the kernel completes
        # it), or the daemon could not even make the socket.
        accepted = self.agent.accepted
        created = d.output().count("can't create socket:")
        self.assertTrue(vx.wait_for(lambda: self.agent.accepted > accepted
                                    or d.output().count("can't create socket:") > created, 15), d.output()[-2000:])
        time.sleep(0.5)
        self.tearDown()
        # A connection the gateway uses, not one held and never watched.
        self.assertTrue(vx.wait_for(lambda: self.agent.fed > fed, 25), d.output()[-2000:])


if __name__ == "__main__":
    vx.main()
