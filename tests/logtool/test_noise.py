"""imutap-inspect noise on a unit lying still with known noise: the emulated
unit through the logger, and synthetic logs."""

import csv
import os
import re
import subprocess

import numpy as np
import pytest

from conftest import TOOL, write_log

INSPECT = os.path.join(TOOL, "imutap-inspect")
PYTHON = "/usr/bin/python3"


def noise(*args, env=None):
    done = subprocess.run([PYTHON, INSPECT, "noise"] + list(args),
                          capture_output=True, text=True, timeout=120, env=env)
    assert "Traceback" not in done.stderr
    return done


def row(text, label):
    """The three numbers of a read-out row."""
    found = re.search(r"^  %s +(\S+) +(\S+) +(\S+)$" % re.escape(label), text, re.M)
    assert found, label
    return np.array([float(v) for v in found.groups()])


def test_still_unit_gives_back_its_noise(logs, tmp_path):
    """imutap-emu --still-gyro 0.01:0.002 --still-accel 0.0002:0.00005."""
    yaml = tmp_path / "imu.yaml"
    done = noise(logs["still"], "--yaml", str(yaml), "-o", str(tmp_path / "a.png"))
    assert done.returncode == 0, done.stderr
    out = done.stdout
    rad, g = np.pi / 180, 9.80665
    for label, value, within in [
            ("angle random walk [rad/s/sqrt(Hz)]", 0.01 * rad, 0.10),
            ("spectrum density [rad/s/sqrt(Hz)]", 0.01 * rad, 0.10),
            ("velocity random walk [m/s^2/sqrt(Hz)]", 0.0002 * g, 0.10),
            ("spectrum density [m/s^2/sqrt(Hz)]", 0.0002 * g, 0.10),
            ("rate random walk [rad/s^2/sqrt(Hz)]", 0.002 * rad, 0.35),
            ("acceleration random walk [m/s^3/sqrt(Hz)]", 0.00005 * g, 0.35)]:
        assert np.all(abs(row(out, label) / value - 1) < within), label
    assert re.search(r"^analysed: lines 1 to 200000, 200000 lines \(2000\.000 s\), complete$",
                     out, re.M)
    model = dict(line.split("#")[0].split(":", 1) for line in
                 yaml.read_text().splitlines() if line and not line.startswith("#"))
    assert float(model["update_rate"]) == 100.0
    assert abs(float(model["gyroscope_noise_density"]) / (0.01 * rad) - 1) < 0.1
    assert abs(float(model["accelerometer_random_walk"]) / (0.00005 * g) - 1) < 0.35
    assert {"gyroscope_random_walk", "accelerometer_noise_density"} <= set(model)
    assert (tmp_path / "a.png").read_bytes().startswith(b"\x89PNG")


def _synthetic(kind, n=200_000, fs=100.0, seed=7):
    """One axis of samples: a pure sine (three samples a period), white
    noise, a random walk, or white noise with flicker (1/f) noise of bias
    instability 0.005 deg/s."""
    rng = np.random.default_rng(seed)
    if kind == "sine":
        return np.sin(2 * np.pi * np.arange(n) / 3)
    if kind == "white":
        return rng.normal(0, 1, n)
    if kind == "walk":
        return np.cumsum(rng.normal(0, 0.01, n))
    spectrum = np.fft.rfft(rng.normal(0, np.sqrt(fs), n))   # two-sided density 1
    f = np.fft.rfftfreq(n, 1 / fs)
    spectrum[1:] *= np.sqrt(0.005 ** 2 / (2 * np.pi * f[1:]))
    spectrum[0] = 0
    return np.fft.irfft(spectrum, n) + rng.normal(0, 0.01 * np.sqrt(fs), n)


@pytest.mark.parametrize("kind, slope", [("sine", -1.0), ("white", -0.5),
                                         ("walk", 0.5)])
def test_textbook_slopes(tmp_path, kind, slope):
    values = np.zeros((9, 200_000))
    values[0] = _synthetic(kind)
    path = write_log(tmp_path / "log.txt", np.arange(200_000),
                     np.arange(200_000) * 0.01, values)
    done = noise(path, "--csv", str(tmp_path / "adev.csv"))
    assert done.returncode == 0, done.stderr
    with open(tmp_path / "adev.csv", newline="") as f:
        rows = list(csv.reader(f))
    assert rows[0][:2] == ["tau [s]", "gyro_x [deg/s]"] and len(rows[0]) == 7
    tau, adev = np.array(rows[1:], float)[:, :2].T
    fitted = np.polyfit(np.log(tau), np.log(adev), 1)[0]
    assert abs(fitted - slope) < 0.1, fitted


def test_bias_instability_of_flicker_noise(tmp_path):
    values = np.zeros((9, 200_000))
    values[0] = _synthetic("flicker")
    path = write_log(tmp_path / "log.txt", np.arange(200_000),
                     np.arange(200_000) * 0.01, values)
    done = noise(path)
    assert done.returncode == 0, done.stderr
    assert abs(row(done.stdout, "bias instability [deg/h]")[0] / (0.005 * 3600) - 1) < 0.35
    assert abs(row(done.stdout, "angle random walk [deg/sqrt(h)]")[0] / 0.6 - 1) < 0.10


@pytest.mark.parametrize("args, said", [
    ([], r"^analysed: lines 3001 to 8000, 5000 lines \(50\.000 s\), the longest of 2"
         r" complete stretches \(--combine pools them\)$"),
    (["--combine"], r"^analysed: 2 complete stretches pooled, 8000 lines \(80\.000 s\);"
                    r" the longest lines 3001 to 8000$"),
    (["NO_SCIPY"], r"^spectrum skipped: it needs scipy \(Debian: python3-scipy\)$"),
])
def test_outages_and_missing_scipy_are_said(tmp_path, args, said):
    counter = np.r_[np.arange(3000), np.arange(5000) + 50_000]
    values = np.zeros((9, 8000))
    values[:6] = np.random.default_rng(1).normal(0, 1, (6, 8000))
    path = write_log(tmp_path / "log.txt", counter, counter * 0.01, values)
    env = None
    if args == ["NO_SCIPY"]:
        fake = tmp_path / "fake" / "scipy"
        fake.mkdir(parents=True)
        (fake / "__init__.py").write_text("raise ImportError('no scipy here')\n")
        env = dict(os.environ, PYTHONPATH=str(tmp_path / "fake"))
        args = []
    done = noise(path, *args, env=env)
    assert done.returncode == 0, done.stderr
    assert re.search(said, done.stdout, re.M), done.stdout
