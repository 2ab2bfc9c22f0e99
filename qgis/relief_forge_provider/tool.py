"""relief_forge_gis as a subprocess: where it is, and one run of it with its
progress on the Processing feedback, Cancel and its errors."""

import os
import queue
import re
import shutil
import subprocess
import threading
import time

from qgis.core import QgsProcessingException, QgsSettings

TOOL = "relief_forge_gis"
# The key of the provider's setting; the options dialog stores it under this
# path of the QGIS profile, where qgis_process reads it too.
SETTING = "RELIEF_FORGE_GIS"
SETTING_KEY = "Processing/Configuration/" + SETTING
WHERE_TO_SET = ("Processing > Options > Providers > relief_forge > relief_forge_gis program "
                "(qgis_process reads it from the profile setting " + SETTING_KEY + ")")

# Seconds the tool has to remove its temporary files after SIGTERM.
TERMINATE_GRACE = 10

# "smoothing: 0...10...20" while a stage runs, "dilation: pass 34 done" or
# "... - done" when it ends: the tool's progress off a terminal.
STAGE_LINE = re.compile(r"^([A-Za-z][A-Za-z ]*): ((?:\d+)(?:\.\.\.\d+)*)?(.*)$")


def executable(path):
    return os.path.isfile(path) and os.access(path, os.X_OK)


def locate():
    """The tool's path: the provider's setting, else the one beside the
    plugin, else the one on PATH; raises, saying how to set it, when none."""
    configured = QgsSettings().value(SETTING_KEY, "") or ""
    if configured:
        if executable(configured):
            return configured
        raise QgsProcessingException(
            "{} was not found at {}: correct its location, or clear it to use the one "
            "beside the plugin or on PATH, in {}".format(TOOL, configured, WHERE_TO_SET))
    here = os.path.dirname(os.path.abspath(__file__))
    for path in (os.path.join(here, TOOL), os.path.join(here, "bin", TOOL)):
        if os.path.isfile(path) and not executable(path):
            # QGIS's "Install from ZIP" drops the executable bit of the tool
            # that the plugin's zip carries.
            try:
                os.chmod(path, os.stat(path).st_mode | 0o755)
            except OSError:
                pass
        if executable(path):
            return path
    found = shutil.which(TOOL)
    if found:
        return found
    raise QgsProcessingException(
        "{} was not found beside the plugin nor on PATH: install it (it is built with "
        "relief_forge) and set its location in {}".format(TOOL, WHERE_TO_SET))


def number(value):
    """A number as the tool reads it: whole ones without a decimal point."""
    value = float(value)
    return str(int(value)) if value.is_integer() else repr(value)


class Progress:
    """Turns the tool's stage lines into one percentage over the stages a run
    goes through, each weighted by its usual share of the time."""

    def __init__(self, feedback, stages):
        self.feedback = feedback
        self.stages = stages
        self.total = float(sum(w for _, w in stages)) or 1.0
        self.shown = 0.0

    def stage(self, label, percent, finished):
        done = 0.0
        for name, weight in self.stages:
            if name == label:
                share = 1.0 if finished else (percent or 0) / 100.0
                value = 100.0 * (done + weight * share) / self.total
                if value > self.shown:
                    self.shown = value
                    self.feedback.setProgress(value)
                return
            done += weight


class Run:
    """What one run of the tool printed, sorted by the reader."""

    def __init__(self, feedback, progress):
        self.feedback = feedback
        self.progress = progress
        self.partial = ""
        # The last message naming the tool, with the lines that go on from it:
        # the error when the run fails. Earlier ones are notes, and go to the log.
        self.message = []

    def stderr_text(self, text):
        self.partial += text
        *lines, self.partial = self.partial.split("\n")
        for line in lines:
            self.line(line, True)
        if self.partial:
            self.line(self.partial, False)

    def line(self, line, complete):
        m = None if line.startswith(TOOL) else STAGE_LINE.match(line)
        if m:
            marks = m.group(2)
            percent = int(marks.rsplit("...", 1)[-1]) if marks else 0
            finished = complete and m.group(3).rstrip().endswith("done")
            self.progress.stage(m.group(1), percent, finished)
        if not complete or not line or line.startswith("Try '"):
            return
        self.feedback.pushInfo(line)
        if line.startswith(TOOL):
            self.message = [line]
        elif not m and self.message:
            self.message.append(line)


def _pump(stream, tag, out):
    for chunk in iter(lambda: os.read(stream.fileno(), 4096), b""):
        out.put((tag, chunk.decode("utf-8", "replace")))
    out.put((tag, None))


def run(args, feedback, stages, outputs):
    """Runs the tool with `args`, its progress going to `feedback` through
    `stages` ((label, weight) in order). On Cancel the tool is stopped: it
    commits its outputs together or not at all, so the earlier files of
    `outputs` stay as they were unless it had committed; only what the tool
    left unfinished (its temporary files, should it be killed) is removed.
    Raises with the tool's own message when it fails or is canceled."""
    before = {p: _identity(p) for p in outputs if p}
    feedback.pushCommandInfo(" ".join(_quoted(a) for a in args))
    try:
        proc = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE)
    except OSError as e:
        raise QgsProcessingException("cannot run {}: {}".format(args[0], e.strerror))
    events = queue.Queue()
    readers = [threading.Thread(target=_pump, args=(s, t, events), daemon=True)
               for s, t in ((proc.stdout, "out"), (proc.stderr, "err"))]
    for r in readers:
        r.start()
    run_text = Run(feedback, Progress(feedback, stages))
    out_partial = ""
    open_streams = 2
    canceled_at = None
    killed = False
    while open_streams:
        if canceled_at is None and feedback.isCanceled():
            canceled_at = time.monotonic()
            proc.terminate()
        if (canceled_at is not None and not killed and
                time.monotonic() - canceled_at > TERMINATE_GRACE):
            proc.kill()
            killed = True
        try:
            tag, text = events.get(timeout=0.05)
        except queue.Empty:
            continue
        if text is None:
            open_streams -= 1
        elif tag == "err":
            run_text.stderr_text(text)
        else:
            out_partial += text
            *lines, out_partial = out_partial.split("\n")
            for line in lines:
                feedback.pushInfo(line)
    status = proc.wait()
    for r in readers:
        r.join()
    proc.stdout.close()
    proc.stderr.close()
    if status < 0:
        # Killed before it could clean up: what it left is finished here.
        written = finish_unfinished(before, proc.pid)
        if canceled_at is None:
            raise QgsProcessingException("{} was killed by signal {}{}".format(
                TOOL, -status, _outcome(written)))
        if written:
            raise QgsProcessingException("Canceled after {} had written {}".format(
                TOOL, ", ".join(written)))
        raise QgsProcessingException("Canceled: no file was written")
    if canceled_at is not None and status == 0:
        feedback.pushInfo("{} had finished when Cancel came: its files are kept".format(TOOL))
    elif canceled_at is not None:
        message = " ".join(run_text.message)
        if WROTE in message:
            raise QgsProcessingException("Canceled after {} had written {}".format(
                TOOL, message.split(WROTE, 1)[1].strip()))
        raise QgsProcessingException("Canceled: no file was written")
    if status != 0:
        if run_text.message:
            raise QgsProcessingException("\n".join(run_text.message))
        raise QgsProcessingException("{} stopped with status {}".format(TOOL, status))
    feedback.setProgress(100)


# The tool's message when an interrupt comes after its commit.
WROTE = "interrupted after it wrote"
# What GDAL writes beside a file while writing it, and the tool's name for
# an earlier file kept aside during its commit.
GDAL_TEMPORARIES = ("", ".ovr.tmp", ".msk.ovr.tmp", ".aux.xml", ".ovr", ".msk", ".warped.tif.tmp")


def _outcome(written):
    return "; it had written " + ", ".join(written) if written else "; no file was written"


def finish_unfinished(before, pid):
    """Finishes what a killed tool left of its commit, and returns the
    outputs it wrote. `before` maps each output to its identity before the
    run. The tool's files are "<output>.<pid>.tmp" (and GDAL's beside them)
    and the earlier files it keeps aside while it commits,
    "<output>.<pid>.old.tmp". While a new file is still at its temporary
    name the commit did not happen: the earlier files go back and the new
    ones renamed in are taken out. Otherwise it was whole, and the earlier
    files kept aside are removed."""
    temps = {p: _temporaries(p, pid) for p in before}
    olds = {p: "{}.{}.old.tmp".format(p, pid) for p in before}
    incomplete = any(os.path.lexists(t) for ts in temps.values() for t in ts)
    written = []
    for path, identity in before.items():
        if not incomplete:
            remove(olds[path])
            if _identity(path) != identity:
                written.append(path)
        elif os.path.lexists(olds[path]):
            try:
                os.replace(olds[path], path)
            except OSError:
                pass
        elif identity is None and os.path.lexists(path) and \
                not any(os.path.lexists(t) for t in temps[path]):
            remove(path)
        for temp in temps[path]:
            for suffix in GDAL_TEMPORARIES:
                remove(temp + suffix)
    return written


def _temporaries(path, pid):
    """The tool's temporary names of `path`: "<path>.<pid>.tmp", and for a
    DEM written by a GDAL driver "<stem>.rf-<pid><ext>", which keeps the
    extension that some drivers read."""
    stem, ext = os.path.splitext(path)
    return ["{}.{}.tmp".format(path, pid), "{}.rf-{}{}".format(stem, pid, ext)]


def _identity(path):
    try:
        st = os.stat(path)
    except OSError:
        return None
    return (st.st_ino, st.st_mtime_ns, st.st_size)


def remove(path):
    try:
        os.remove(path)
    except OSError:
        pass


def remove_folder(path):
    try:
        os.rmdir(path)
    except OSError:
        pass


def _quoted(arg):
    return arg if re.fullmatch(r"[\w@%+=:,./-]+", arg) else "'" + arg.replace("'", "'\\''") + "'"
