"""A match record played back frame for frame: by zarv_replay, natively, with
the sanitizers and under emulation, and by the page in each browser, every
frame of it rolled back 8 frames there and run again. All print the
checksums that zarv_replay printed for it on x86-64."""

import os
import shutil

import pytest

from harness import SOURCE, read, run, wait_for

RECORD = os.path.join(SOURCE, "tests", "data", "match.zrec")  # 1200 frames of random play by both sides
REPLAYED = read(os.path.join(SOURCE, "tests", "data", "match.replay"))


@pytest.mark.targets("desktop", "sanitized", "emulated")
def test_replay_tool_prints_the_records_checksums(target):
    tool = os.path.join(os.path.dirname(target.path), "zarv_replay")
    env = dict(os.environ, ALSOFT_DRIVERS="null", **target.build.get("environment", {}))
    assert run(*target.build["emulator"], tool, RECORD, env=env, timeout=600) == REPLAYED


@pytest.mark.targets("page")
@pytest.mark.game(query="?replay=match.zrec&check=8", tamper=lambda site: shutil.copy(RECORD, site), deadline=300)
def test_page_replays_the_records_checksums(game):
    def said():
        return [m["text"] for m in game.log()["messages"] if m["text"].startswith(("frame ", "scores ", "zarv:"))]
    wait_for("the replay's scores", lambda: any(line.startswith("scores ") for line in said()), game.deadline)
    assert "".join(line + "\n" for line in said()) == REPLAYED
    assert game.evaluate("[canvas.dataset.frame, canvas.dataset.checksum]") == ["1200", REPLAYED.split()[-4]]
