"""The picture of a unit's noise: the Allan deviation of each axis, log-log,
gyroscopes and accelerometers side by side."""

import os

import numpy as np

from .allan import FLAT_DEVIATION
from .noise import AXES
from .noise_report import ACCEL, GYRO, used_text


def plot_adev(r, path):
    """The Allan deviation of each axis, log-log, with the fitted white noise
    (slope -1/2) and random walk (slope +1/2) and the read-outs marked."""
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from matplotlib.lines import Line2D

    fig, panels = plt.subplots(1, 2, figsize=(11, 5.2), dpi=100)
    colors = ["tab:blue", "tab:orange", "tab:green"]
    key = [Line2D([], [], color="0.3", linestyle="--", marker="s",
                  markerfacecolor="none", label="white noise N: slope -1/2,"
                  " its value at 1 s"),
           Line2D([], [], color="0.3", linestyle=":", marker="^",
                  markerfacecolor="none", label="random walk K: slope +1/2,"
                  " its value at 3 s"),
           Line2D([], [], color="0.3", linestyle="", marker="v",
                  label="least deviation: 0.664 x bias instability")]
    for ax, sensor, k0 in ((panels[0], GYRO, 0), (panels[1], ACCEL, 3)):
        shown = []
        for j in range(3):
            k = k0 + j
            t, c = r.figures[k], colors[j]
            ax.loglog(r.taus, r.adev[k], "o-", color=c, markersize=3,
                      linewidth=1.2, label=AXES[k])
            taus = r.taus
            ax.loglog(taus, t.white / np.sqrt(taus), "--", color=c,
                      linewidth=0.8, alpha=0.8)
            ax.plot([1.0], [t.white], "s", color=c, markerfacecolor="none",
                    markersize=9)
            shown += list(r.adev[k]) + [t.white]
            if not t.walk_bound:
                ax.loglog(taus, t.walk * np.sqrt(taus / 3), ":", color=c,
                          linewidth=1.0, alpha=0.9)
                ax.plot([3.0], [t.walk], "^", color=c, markerfacecolor="none",
                        markersize=9)
                shown.append(t.walk)
            ax.plot([t.instability_tau], [t.instability * FLAT_DEVIATION], "v",
                    color=c, markersize=9)
        shown = np.array(shown)
        shown = shown[np.isfinite(shown) & (shown > 0)]
        if len(shown):
            ax.set_ylim(shown.min() / 2, shown.max() * 2)
        ax.set_xlabel("averaging time tau [s]")
        ax.set_ylabel("Allan deviation [%s]" % sensor.unit)
        ax.set_title(sensor.name, fontsize="medium")
        ax.grid(True, which="both", linewidth=0.3, alpha=0.6)
        axes_key = ax.legend(fontsize="small", loc="upper right")
        ax.add_artist(axes_key)
        ax.legend(handles=key, fontsize="x-small", loc="lower left")
    fig.suptitle("%s: Allan deviation of a unit lying still, %s, sample"
                 " interval %.6g s" % (os.path.basename(r.log.path),
                                       used_text(r), r.tau0),
                 fontsize="medium")
    fig.tight_layout(rect=(0, 0, 1, 0.95))
    fig.savefig(path)
    plt.close(fig)
