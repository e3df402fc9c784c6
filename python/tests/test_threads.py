"""Fits release the interpreter's lock, so Python threads fit side by side with
the same results as one after the other; Ctrl-C stops a fit at once and raises
KeyboardInterrupt."""

import os
import signal
import threading
import time

import pandas as pd
import pytest

import tarnok


def test_threads_fit_side_by_side_with_the_same_results(st_louis):
    results = {}

    def work(name, passes):
        results[name] = tarnok.fit(st_louis, passes=passes, threads=1)

    threads = [threading.Thread(target=work, args=(name, 400)) for name in ("a", "b")]
    for thread in threads:
        thread.start()
    # While the fits run, this thread runs too: it could not if they held the lock.
    turns = 0
    while any(thread.is_alive() for thread in threads):
        turns += 1
        time.sleep(0.001)
    for thread in threads:
        thread.join()
    assert turns > 20
    alone = tarnok.fit(st_louis, passes=400, threads=1)
    for name in ("a", "b"):
        pd.testing.assert_frame_equal(results[name].contributions, alone.contributions, check_exact=True)


@pytest.mark.parametrize("kwargs", [dict(), dict(starts=4, passes=10**9, threads=2)], ids=["fit", "starts"])
def test_interrupt_raises_keyboard_interrupt_within_a_second(st_louis, kwargs):
    sent = []

    def interrupt():
        sent.append(time.monotonic())
        os.kill(os.getpid(), signal.SIGINT)

    timer = threading.Timer(0.5, interrupt)
    timer.start()
    with pytest.raises(KeyboardInterrupt):
        tarnok.fit(st_louis, **kwargs)  # no stop rule that ends it soon: only the interrupt
    assert time.monotonic() - sent[0] < 1.0
    timer.join()
