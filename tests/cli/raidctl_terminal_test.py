# SPDX-License-Identifier: GPL-2.0-or-later
"""raidctl on a terminal (a pseudo-terminal of this test): what the user's terminal is left with.

Run by CTest: raidctl_terminal_test.py RAIDCTL.
"""

import os
import pty
import signal
import sys
import tempfile
import termios
import time
import unittest


class TerminalTest(unittest.TestCase):
    # Ctrl-C at the password prompt must not leave the shell without its echo.
    def test_ctrl_c_at_the_password_prompt_gives_the_echo_back(self):
        with tempfile.TemporaryDirectory() as folder:
            pid, terminal = pty.fork()
            if pid == 0:
                os.environ["RAIDGUI_CONFIG_DIR"] = folder
                os.execv(RAIDCTL, [RAIDCTL, "mail-setup", "--auth", "--user", "raid"])
            said = b""
            deadline = time.monotonic() + 20
            while b"SMTP password: " not in said and time.monotonic() < deadline:
                said += os.read(terminal, 1024)
            self.assertIn(b"SMTP password: ", said)
            self.assertFalse(termios.tcgetattr(terminal)[3] & termios.ECHO, "the prompt echoes")
            os.write(terminal, b"\x03")  # Ctrl-C, turned into SIGINT by the terminal
            _, status = os.waitpid(pid, 0)
            self.assertTrue(os.WIFSIGNALED(status) and os.WTERMSIG(status) == signal.SIGINT)
            self.assertTrue(termios.tcgetattr(terminal)[3] & termios.ECHO, "echo is still off")
            os.close(terminal)
            self.assertFalse(os.path.exists(os.path.join(folder, "settings.toml")))


if __name__ == "__main__":
    RAIDCTL = sys.argv[1]
    unittest.main(argv=sys.argv[:1], verbosity=2)
