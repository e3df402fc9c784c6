"""tarnok from Python: the console program's fit on the same C++ core.

    import tarnok
    problem = tarnok.load("profile.tsv", "form.tsv", "data.tsv")
    result = tarnok.fit(problem, passes=300, threads=1)
    result.contributions        # samples x factors
    result.write_table("result.tsv")   # the console program's bytes

Fits release the interpreter's lock, so threads fit side by side; Ctrl-C stops a
fit and raises KeyboardInterrupt; bad input raises ValueError with the console's
message.
"""

from ._fit import Bootstrap, Displacement, Residue, Result, fit
from ._problem import Problem, load, prepare

__all__ = ["Bootstrap", "Displacement", "Problem", "Residue", "Result", "fit", "load", "prepare"]
__version__ = "1.0.0"
