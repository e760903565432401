"""Progress lines on the error stream for the kit tools' slow steps
(building the application, making a medium, booting, waiting for the
application): a step that takes more than SHOWN_AFTER seconds says what it
is doing, in one plain line (no escape codes, so a log or a pipe keeps it
as it is), and a quick step says nothing. --quiet keeps them all back.
"""

import sys
import threading

# A step quicker than this is not worth a line.
SHOWN_AFTER = 2.0


class Progress:
    """One step at a time: begin() names the step that starts (ending the
    one before), end() ends it. The line is written by a timer, so a step
    that ends in time never shows."""

    def __init__(self, prog, quiet=False, stream=None, after=SHOWN_AFTER):
        self.prog = prog
        self.quiet = quiet
        self.stream = stream
        self.after = after
        self._timer = None
        self._lock = threading.Lock()

    def begin(self, text):
        self.end()
        if self.quiet:
            return
        timer = threading.Timer(self.after, self._say, (text,))
        timer.daemon = True
        with self._lock:
            self._timer = timer
        timer.start()

    def end(self):
        with self._lock:
            timer, self._timer = self._timer, None
        if timer is not None:
            timer.cancel()

    def _say(self, text):
        with self._lock:
            if self._timer is None:
                return
            stream = self.stream or sys.stderr
            try:
                print("%s: %s ..." % (self.prog, text), file=stream, flush=True)
            except (OSError, ValueError):
                pass  # a closed stream costs the line, never the run
