import time


def wait_until(condition, timeout):
    """True once condition() holds, False when timeout seconds pass first."""
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.02)
    return True
