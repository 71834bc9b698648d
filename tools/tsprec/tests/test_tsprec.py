"""tsprec without sound hardware: ALSA's file plugin over null plays the
device (its infile is what the inputs hear), and a JACK dummy server under a
name of its own gives a graph with a loopback made by a connection."""
import json
import os
import resource
import signal
import subprocess
import tempfile
import time
import unittest
import wave

import numpy as np

from veskio2py import read_tf

BIN = os.path.join(os.environ["VESK_BINARY_DIR"], "bin")
TSPREC = os.path.join(BIN, "tsprec")
LATENCY = 517  # samples the planted loopback and microphones arrive late
MICS, LOOPBACK = 8, 8
PERIOD = 4096


def run(args, cwd, env=None, check=True):
    p = subprocess.run(args, cwd=cwd, env=env, capture_output=True, text=True, timeout=120)
    if check and p.returncode != 0:
        raise AssertionError(f"{args[0]} failed ({p.returncode}): {p.stdout}\n{p.stderr}")
    return p


def read_log(d):
    with open(os.path.join(d, "list.tsprec.json")) as f:
        return json.load(f)


def read_wave(path):
    with wave.open(path) as w:
        return np.frombuffer(w.readframes(w.getnframes()), "<i2").reshape(-1, w.getnchannels())


def make_session(d, directions):
    """The array, a TSP list of `directions` sources, the playback, and
    measim's recordings of them under sim/."""
    tool = lambda name, *a: run([os.path.join(BIN, name), *a], d)
    n = str(MICS)
    tool("trelvix", "--mode", "template", "--output-type", "mic", "--nummic", n, "--numazi", n,
         "--aziint", str(360 // MICS), "--radius", "0.1", "-o", "mic.xml")
    tool("trelvix", "--mode", "template", "--output-type", "tsp", "--nummic", n, "--numazi", str(directions),
         "--aziint", str(360 // directions), "--radius", "1.5", "-o", "list.xml", "--filepath",
         "D{AZIMUTH:%03d}.wav", "--synchronous-average", "4", "--tsp-offset", str(PERIOD),
         "--tsp-length", str(PERIOD), "--original-impulse-file", f"{PERIOD}.little_endian.tsp")
    tool("tspgen", "--tsp-length", str(PERIOD), "--synchronous-average", "4", "--tsp-offset", str(PERIOD),
         "--origin", f"{PERIOD}.little_endian.tsp", "--playback", "playback.wav")
    os.mkdir(os.path.join(d, "sim"))
    for f in ("mic.xml", "list.xml", "playback.wav", f"{PERIOD}.little_endian.tsp"):
        os.link(os.path.join(d, f), os.path.join(d, "sim", f))
    run([os.path.join(BIN, "measim"), "--mic", "mic.xml", "--list", "list.xml", "--playback", "playback.wav",
         "--ir-length", "1024", "--snr", "40", "--gain", "0.5"], os.path.join(d, "sim"))
    return sorted(f for f in os.listdir(os.path.join(d, "sim")) if f.startswith("D"))


def plant_inputs(d, names, frames, clip_take=None):
    """take<i>.raw: what the inputs hear in take i (from 1): measim's
    recording and, on the loopback input, the playback, LATENCY late."""
    playback = read_wave(os.path.join(d, "playback.wav"))[:, 0]
    for i, name in enumerate(names, 1):
        rec = read_wave(os.path.join(d, "sim", name))
        raw = np.zeros((frames, MICS + 1), "<i2")
        n = min(len(rec), frames - LATENCY)
        raw[LATENCY:LATENCY + n, :MICS] = rec[:n]
        m = min(len(playback), frames - LATENCY)
        raw[LATENCY:LATENCY + m, LOOPBACK] = playback[:m]
        if i == clip_take:
            raw[LATENCY + 3000:LATENCY + 3100, 3] = 32767
        raw.tofile(os.path.join(d, f"take{i}.raw"))
    os.link(os.path.join(d, "take1.raw"), os.path.join(d, "in.raw"))  # the first open, before the session


def alsa_env(d):
    conf = os.path.join(d, "asound.conf")
    with open(conf, "w") as f:
        f.write('pcm.nullpcm { type null }\n'
                f'pcm.planted {{ type file slave.pcm "nullpcm" file "/dev/null" infile "{d}/in.raw" format "raw" }}\n')
    return dict(os.environ, ALSA_CONFIG_PATH=conf)


ALSA = [TSPREC, "--list", "list.xml", "--playback", "playback.wav", "--device", "planted",
        "--loopback-channel", str(LOOPBACK), "--non-interactive", "--retries", "1",
        "--position-command", "cp take{INDEX}.raw in.raw.new && mv in.raw.new in.raw"]


class AlsaSession(unittest.TestCase):
    def test_session_realigns_and_gives_the_same_tf(self):
        with tempfile.TemporaryDirectory() as d:
            names = make_session(d, 8)
            plant_inputs(d, names, 40000)
            p = run(ALSA, d, alsa_env(d))
            log = read_log(d)
            self.assertEqual([t["name"] for t in log["takes"]], names)
            for t in log["takes"]:
                self.assertEqual(t["latencySamples"], LATENCY, p.stdout)
                self.assertAlmostEqual(t["latencyFineSamples"], LATENCY, delta=0.01)
                self.assertTrue(t["passed"], t)
            for name in names:
                ours, theirs = read_wave(os.path.join(d, name)), read_wave(os.path.join(d, "sim", name))
                n = min(len(ours), len(theirs))
                self.assertEqual(ours.shape[1], MICS)
                np.testing.assert_array_equal(ours[:n], theirs[:n], name)
            dravik_dir = os.path.dirname(os.environ["DRAVIK_BIN"])
            env = dict(os.environ, PATH=dravik_dir + ":" + os.environ["PATH"], TMPDIR=d)
            tf = [os.environ["TRELVIX_BIN"], "--mode", "tf", "--tsp-length", str(PERIOD), "-o", "tf.bin",
                  "mic.xml", "list.xml"]
            run(tf, d, env)
            run(tf, os.path.join(d, "sim"), env)
            ours, theirs = read_tf(os.path.join(d, "tf.bin")), read_tf(os.path.join(d, "sim", "tf.bin"))
            compared = 0
            for (ds, _, a), (_, _, b) in zip(ours.data_sets, theirs.data_sets):
                for key, value in a.items():
                    if isinstance(value, np.ndarray) and value.dtype.kind in "fc" and value.size > 1:
                        np.testing.assert_allclose(value, b[key], rtol=1e-6, atol=1e-6 * np.abs(b[key]).max(),
                                                   err_msg=f"{ds}.{key}")
                        compared += 1
            self.assertGreater(compared, 0)

    def test_faults(self):
        with tempfile.TemporaryDirectory() as d:
            names = make_session(d, 4)
            plant_inputs(d, names, 30000, clip_take=2)
            env = alsa_env(d)
            # An existing recording is never replaced without --overwrite.
            open(os.path.join(d, names[0]), "w").close()
            p = run(ALSA, d, env, check=False)
            self.assertEqual((p.returncode, p.stderr), (1, f"tsprec: {names[0]} exists; give --resume to go on "
                                                            "after it or --overwrite to record it again\n"))
            os.unlink(os.path.join(d, names[0]))
            # The clipped take is recorded again, then kept and reported.
            p = run(ALSA, d, env, check=False)
            self.assertEqual(p.returncode, 3, p.stdout + p.stderr)
            takes = read_log(d)["takes"]
            self.assertEqual([t["passed"] for t in takes], [True, False, True, True])
            self.assertEqual(takes[1]["retries"], 1)
            self.assertEqual([f["kind"] for f in takes[1]["findings"]], ["clipping"])
            self.assertIn(f"kept with failed checks: {names[1]}", p.stdout)
            # --resume finds nothing missing and keeps the log's takes.
            p = run(ALSA + ["--resume"], d, env)
            self.assertEqual(len(read_log(d)["takes"]), 4)
            self.assertEqual(sorted(f for f in os.listdir(d) if f.startswith(".")), [])

    def test_prompts_and_the_back_end_latency(self):
        with tempfile.TemporaryDirectory() as d:
            names = make_session(d, 2)
            plant_inputs(d, names, 30000, clip_take=2)
            env = alsa_env(d)
            # At a terminal: Enter once each position is set up (here: its
            # planted input put in place), "r" to record the failed take again.
            prompted = [a for a in ALSA if a not in ("--non-interactive", "--retries", "1")]
            prompted = prompted[:prompted.index("--position-command")]
            p = subprocess.Popen(prompted, cwd=d, env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                 stderr=subprocess.PIPE)
            seen, answers = b"", []
            deadline = time.time() + 120
            while p.poll() is None and time.time() < deadline:
                chunk = os.read(p.stdout.fileno(), 4096)
                if not chunk:
                    break
                seen += chunk
                if seen.endswith(b"press Enter "):
                    take = seen.count(b"press Enter ")
                    os.replace(os.path.join(d, f"take{take}.raw"), os.path.join(d, "in.raw"))
                    answers.append("enter")
                    p.stdin.write(b"\n")
                elif seen.endswith(b"r: record again "):
                    answer = b"r\n" if answers.count("r") == 0 else b"\n"
                    answers.append("r" if answer == b"r\n" else "keep")
                    p.stdin.write(answer)
                p.stdin.flush()
            p.wait(timeout=30)
            err = p.stderr.read().decode()
            for pipe in (p.stdin, p.stdout, p.stderr):
                pipe.close()
            self.assertEqual(p.returncode, 3, seen.decode() + err)
            self.assertEqual(answers, ["enter", "enter", "r", "keep"])
            takes = read_log(d)["takes"]
            self.assertEqual([t["passed"] for t in takes], [True, False])
            self.assertEqual(takes[1]["retries"], 1)
            # Without a loopback the back end's latency is used, and said so.
            for name in names + ["in.raw"]:
                os.unlink(os.path.join(d, name))
            plant_inputs(d, names, 30000)
            no_loopback = [a for a in ALSA if a not in ("--loopback-channel", str(LOOPBACK))]
            p = run(no_loopback, d, env, check=False)
            self.assertIn(p.returncode, (0, 3), p.stdout + p.stderr)
            self.assertEqual([t["latencySource"] for t in read_log(d)["takes"]], ["back end"] * 2)
            self.assertIn(", back end)", p.stdout)


def default_sigint():
    """In the child: SIGINT as at a terminal (the test runner may ignore or block it)."""
    signal.signal(signal.SIGINT, signal.SIG_DFL)
    signal.pthread_sigmask(signal.SIG_UNBLOCK, {signal.SIGINT})


class Hostile(unittest.TestCase):
    def test_refusals_leave_nothing(self):
        with tempfile.TemporaryDirectory() as d:
            names = make_session(d, 2)
            plant_inputs(d, names, 30000)
            with open(os.path.join(d, "list.xml")) as f:
                listed = f.read()
            with open(os.path.join(d, "m64.xml"), "w") as f:
                f.write(listed.replace("<micIndex>7</micIndex>", "<micIndex>64</micIndex>", 1))
            os.mkfifo(os.path.join(d, "fifo.wav"))
            limit_file_size = lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (65536, 65536))
            rows = [  # extra arguments, preexec, the error
                (["--tail", "nan"], None, "--tail: expected 0-60 seconds"),
                (["--retries", "-1"], None, "--retries: expected 0-100, found -1"),
                (["--input-channels", "1,,2"], None,
                 '--input-channels: expected channel numbers 0-1023 separated by commas, found "1,,2"'),
                (["--playback", "fifo.wav"], None, "fifo.wav: not a regular file"),
                (["--list", "m64.xml"], None,
                 f"m64.xml: source 0, file {names[0]}: micIndex 64 lies beyond channel 63, the last dravik reads"),
                (["--position-command", "true"], limit_file_size, f"cannot write recording '{names[0]}': System error : File too large."),
            ]
            for extra, preexec, error in rows:
                with self.subTest(extra=extra, error=error):
                    args = list(ALSA)
                    for option, value in zip(extra[::2], extra[1::2]):
                        if option in args:
                            args[args.index(option) + 1] = value
                        else:
                            args += [option, value]
                    p = subprocess.run(args, cwd=d, env=alsa_env(d), capture_output=True, text=True,
                                       timeout=60, preexec_fn=preexec)
                    self.assertEqual((p.returncode, p.stderr), (1, f"tsprec: {error}\n"))
                    self.assertEqual([f for f in os.listdir(d) if f.startswith(".") or f in names], [])


class JackServer:
    def __init__(self, d, capture_ports, period=256):
        self.name = "tsprec-test-%d" % os.getpid()
        self.log = open(os.path.join(d, "jackd.log"), "w")
        self.proc = subprocess.Popen(["jackd", "-n", self.name, "--no-realtime", "-d", "dummy", "-r", "16000",
                                      "-p", str(period), "-C", str(capture_ports), "-P", "2"],
                                     stdout=self.log, stderr=subprocess.STDOUT)
        for _ in range(100):
            p = run([TSPREC, "--list-devices", "--backend", "jack", "--device", self.name], d)
            if "Hz" in p.stdout:
                return
            time.sleep(0.1)
        self.stop()
        raise AssertionError("jackd did not start")

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)  # by its pid: ours alone
        self.proc.wait(timeout=10)
        self.log.close()


class JackSession(unittest.TestCase):
    def test_graph_latency_interrupt_and_too_few_channels(self):
        with tempfile.TemporaryDirectory() as d:
            names = make_session(d, 4)
            jack = [TSPREC, "--backend", "jack", "--list", "list.xml", "--playback", "playback.wav",
                    "--loopback-channel", str(LOOPBACK), "--jack-connect", f"{LOOPBACK}=playback",
                    "--non-interactive", "--retries", "3"]
            server = JackServer(d, MICS)
            try:
                # One take through the graph: a whole number of periods late.
                proc = subprocess.Popen(jack + ["--device", server.name], cwd=d, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, text=True,
                                        preexec_fn=default_sigint)
                log = os.path.join(d, "list.tsprec.json")
                takes = lambda: read_log(d)["takes"] if os.path.exists(log) else []
                for _ in range(1200):  # a take written: the next under way
                    if takes() or proc.poll() is not None:
                        break
                    time.sleep(0.05)
                time.sleep(0.5)
                proc.send_signal(signal.SIGINT)
                proc.wait(timeout=20)
                seen = proc.stdout.read()
                if proc.returncode == 3 and not takes() and "xrun" in seen:
                    self.skipTest("every take met an xrun: the machine is too loaded for a non-realtime JACK graph")
                self.assertEqual(proc.returncode, -signal.SIGINT, seen + proc.stderr.read())
                kept = takes()
                self.assertGreaterEqual(len(kept), 1)
                # The graph's latency: one period, through the connection.
                self.assertEqual({t["latencySamples"] for t in kept}, {256}, seen)
                # Silent dummy inputs fail the take, which is recorded again; a
                # loaded machine can make the graph miss a cycle: such a take
                # is discarded and said so, never kept.
                self.assertEqual({f["kind"] for t in kept for f in t["findings"]}, {"silent"})
                left = sorted(f for f in os.listdir(d) if f.startswith("D") or f.startswith("."))
                self.assertEqual(left, sorted(t["name"] for t in kept))
            finally:
                server.stop()
            server = JackServer(d, 4)
            try:
                p = run(jack + ["--device", server.name, "--overwrite"], d, check=False)
                self.assertEqual((p.returncode, p.stdout, p.stderr),
                                 (1, "", "tsprec: JACK server: expected 8 capture ports, found 4\n"))
            finally:
                server.stop()


if __name__ == "__main__":
    unittest.main()
