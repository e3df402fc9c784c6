"""The fit of a problem and its result as DataFrames; the numbers are those of the
console program's core, copied, never recomputed here."""

from __future__ import annotations

import os
from dataclasses import dataclass
from typing import Mapping, Optional, Sequence, Union

import pandas as pd

from . import _tarnok
from ._problem import Problem


@dataclass(frozen=True)
class Residue:
    """What the factors leave unexplained: one extra profile and its contributions."""

    contributions: pd.Series  # per sample, summing to 1
    profile: pd.Series  # per species


def _frame(cells: dict) -> pd.DataFrame:
    """A table of the program's text cells, numbers as numbers."""
    frame = pd.DataFrame(cells["rows"], columns=cells["headings"])
    for column in frame.columns:
        try:
            frame[column] = pd.to_numeric(frame[column])
        except (ValueError, TypeError):
            pass
    return frame


class Bootstrap:
    """The block bootstrap of a result: replicate fits and the spread of every
    profile element over the replicates mapped to its factor."""

    def __init__(self, core: _tarnok.Bootstrap, fit: _tarnok.Fit):
        self._core = core
        self._fit = fit

    replicates = property(lambda self: self._core.replicates)
    block = property(lambda self: self._core.block)
    fitted = property(lambda self: self._core.fitted)
    failed = property(lambda self: self._core.failed)
    not_run = property(lambda self: self._core.not_run)

    @property
    def summary(self) -> str:
        """The console's lines after a bootstrap."""
        return self._core.summary(self._fit)

    @property
    def table(self) -> pd.DataFrame:
        """Per factor and species: base value, percentiles and count (bootstrap.tsv)."""
        return _frame(self._core.table(self._fit))

    @property
    def mapping(self) -> pd.DataFrame:
        """Per factor the replicates mapped to it (bootstrap_mapping.tsv)."""
        return _frame(self._core.mapping(self._fit))


class Displacement:
    """The displacement of a result: per free profile element and dQmax level the
    interval it can move in (disp.tsv), per level the swaps and the largest
    decrease of chi2 (disp_summary.tsv), and with a total the apportionment's
    intervals (apportionment.tsv)."""

    def __init__(self, core: _tarnok.Displacement, fit: _tarnok.Fit):
        self._core = core
        self._fit = fit

    levels = property(lambda self: self._core.levels)
    base_chi2 = property(lambda self: self._core.base_chi2)
    fits = property(lambda self: self._core.fits)
    failed = property(lambda self: self._core.failed)
    searches = property(lambda self: self._core.searches)
    not_run = property(lambda self: self._core.not_run)
    decreased = property(lambda self: self._core.decreased, doc="chi2 fell below the base beyond the tolerance")
    summary = property(lambda self: self._core.summary, doc="the console's lines after a displacement")

    @property
    def table(self) -> pd.DataFrame:
        """Per free element and level: factor, variable, base, dq, low, high (disp.tsv)."""
        return _frame(self._core.table(self._fit))

    @property
    def summary_table(self) -> pd.DataFrame:
        """Per level the swaps and the largest decrease of chi2 (disp_summary.tsv)."""
        return _frame(self._core.summary_table())

    @property
    def apportionment(self) -> Optional[pd.DataFrame]:
        """With a total: per factor the share, mean contribution and their intervals
        from bootstrap and displacement (apportionment.tsv); None without."""
        cells = self._core.apportionment
        return None if cells is None else _frame(cells)


class Result:
    """A fit with a result: the tables of the result file as DataFrames labelled by
    sample, species and factor, the statistics of every pass and how it stopped."""

    def __init__(self, core: _tarnok.Fit, problem: Problem):
        self._core = core
        self.problem = problem  # with the names and held elements of the fit
        self._table_path = ""

    @property
    def contributions(self) -> pd.DataFrame:
        return pd.DataFrame(self._core.x, index=self.problem.samples, columns=self.problem.factors)

    @property
    def profiles(self) -> pd.DataFrame:
        return pd.DataFrame(self._core.p, index=pd.Index(self.problem.species, name="species"),
                            columns=self.problem.factors)

    @property
    def residue(self) -> Residue:
        return Residue(pd.Series(self._core.t, index=self.problem.samples, name="Residue"),
                       pd.Series(self._core.r, index=pd.Index(self.problem.species, name="species"), name="Residue"))

    @property
    def variables(self) -> pd.DataFrame:
        """Per species: Chi2, the degrees of freedom ny, and the regression of the
        measured values on the contributions (a coefficient and its standard error
        s(factor) per factor), as the result table has them."""
        columns = {"Chi2": self._core.chi, "ny": self._core.ny}
        coef, se = self._core.coef, self._core.se
        for f, name in enumerate(self.problem.factors):
            columns[name] = coef[:, f]
            columns[f"s({name})"] = se[:, f]
        return pd.DataFrame(columns, index=pd.Index(self.problem.species, name="species"))

    @property
    def passes(self) -> pd.DataFrame:
        """The statistics line of every pass (chi2, ny, chi2/ny, sumsq) and its seconds."""
        lines = self._core.lines
        frame = pd.DataFrame({k: lines[k] for k in ("chi2", "ny", "chi2/ny", "sumsq")},
                             index=pd.RangeIndex(1, len(lines["chi2"]) + 1, name="pass"))
        if len(lines["seconds"]) == len(frame):
            frame["seconds"] = lines["seconds"]
        return frame

    chi2 = property(lambda self: self._core.chi2, doc="chi2 of the final contribution step")
    ny = property(lambda self: self._core.nytot, doc="its degrees of freedom")
    stop_reason = property(lambda self: self._core.reason,
                           doc="key, pass_limit, interrupted, converged or diverged")
    result_pass = property(lambda self: self._core.result_pass, doc="the pass the result belongs to")
    passes_run = property(lambda self: self._core.passes, doc="statistics lines of the fit")
    not_converged = property(lambda self: self._core.not_converged)
    stop_line = property(lambda self: self._core.stop_line, doc="the console's closing line")
    robust_line = property(lambda self: self._core.robust_line, doc="the console's line after a robust fit")

    @property
    def starts(self) -> Optional[pd.DataFrame]:
        """With starts=N or fresh_starts=N: every start (starts.tsv)."""
        cells = self._core.starts
        return None if cells is None else _frame(cells)

    def stability_line(self, total: Optional[str] = None) -> str:
        """With starts: the console's line on how stable the starts' answer is
        (shares of `total`, as --total; of every variable when None)."""
        return self._core.stability_line(total or "")

    def write_table(self, path: Union[str, os.PathLike]) -> None:
        """Writes the result table: the same bytes as the console program's."""
        self._table_path = os.fspath(path)
        self._core.write_table(self._table_path)

    def bootstrap(self, replicates: int, *, block: int = 0, seed: int = 1, min_r: float = 0.6,
                  accelerate: Optional[bool] = None, total: Optional[str] = None) -> Bootstrap:
        """The block bootstrap as --bootstrap N (--block, --seed, --min-r) runs it.
        accelerate: the replicate fits' --accelerate (None: as the fit). total: keep
        every replicate's shares of that variable, for the apportionment's intervals
        of a displacement (as --total with --disp)."""
        core = self._core.bootstrap(replicates, block, seed, min_r, accelerate, total or "")
        return Bootstrap(core, self._core)

    def displacement(self, levels: Optional[Sequence[float]] = None, *, threads: Optional[int] = None,
                     total: Optional[str] = None, bootstrap: Optional[Bootstrap] = None) -> Displacement:
        """The displacement of every free profile element as --disp runs it: levels
        the dQmax levels, rising (None: 4, 8, 16, 32, as --disp-levels), threads its
        worker threads (None: the fit's). With total (as --total) the apportionment's
        intervals, with the bootstrap's when it was run with the same total."""
        core = self._core.displacement([] if levels is None else [float(level) for level in levels], threads or 0,
                                       total or "", None if bootstrap is None else bootstrap._core)
        return Displacement(core, self._core)

    def report(self, dir: Union[str, os.PathLike], *, total: str = "", units: Union[str, os.PathLike, None] = None,
               bootstrap: Optional[Bootstrap] = None, displacement: Optional[Displacement] = None) -> None:
        """Writes the report folder as --report DIR does: total as --total, units as
        --units (the species table giving the variables' units), with the tables of
        the bootstrap and the displacement when given."""
        self._core.report(os.fspath(dir), total, "" if units is None else os.fspath(units), self._table_path,
                          None if bootstrap is None else bootstrap._core,
                          None if displacement is None else displacement._core)

    def __repr__(self) -> str:
        return f"<tarnok.Result {self.stop_line.strip()}>"


def fit(problem: Problem, *, factors: Optional[int] = None, profiles: Optional[pd.DataFrame] = None,
        form: Optional[pd.DataFrame] = None, passes: Optional[int] = None, converge: float = 0.0,
        keep_best: bool = False, accelerate: bool = False, robust: Union[bool, float, None] = None,
        rotate: Union[str, float, None] = None, starts: int = 0, fresh_starts: int = 0, seed: int = 1,
        threads: Optional[int] = None, names: Union[str, Sequence[str], None] = None,
        hold: Union[Mapping[str, float], Sequence[str], None] = None) -> Result:
    """Fits the problem as the console program does with the same options.

    factors=K prepares a prepared problem again for K factors; profiles= (and
    form=) start from other profiles. passes, converge and keep_best are the stop
    rules (accelerate as --accelerate); without any of them the fit runs until
    interrupted. robust=True is --robust (alpha 4), a number its alpha; rotate is
    the rotate argument; starts, fresh_starts, seed and threads as their options
    (threads=None: one per core). names (a list, or "A,B,..." as --names) name the
    factors for this fit; hold holds profile elements as --hold does: a list of
    "FACTOR:VARIABLE=VALUE" or a dict {"FACTOR:VARIABLE": VALUE}."""
    if factors is not None and profiles is not None:
        raise ValueError("Error: give factors= or profiles=, not both!\n")
    if factors is not None:
        problem = problem.with_factors(factors)
    if profiles is not None:
        problem = problem.with_start(profiles, form)
    elif form is not None:
        problem = problem.with_start(problem.starting_profiles, form)
    alpha = 4.0 if robust is True else float(robust or 0.0)
    rotate_text = None if rotate is None else str(rotate)
    names_text = "" if names is None else names if isinstance(names, str) else ",".join(names)
    core = _tarnok.fit(problem._core, -1 if passes is None else passes, converge, keep_best, accelerate, alpha,
                       rotate_text, starts, fresh_starts, seed, threads or 0, names_text, _hold_texts(hold))
    return Result(core, Problem(core.problem, problem._preparation))


def _hold_texts(hold: Union[Mapping[str, float], Sequence[str], None]) -> list:
    """The --hold texts of a list of them or of a dict {"FACTOR:VARIABLE": VALUE}
    (a number in Python's shortest round-trip text, as `str` of an int or float)."""
    if hold is None:
        return []
    if isinstance(hold, str):
        return [hold]
    if isinstance(hold, Mapping):
        return [f"{element}={value if isinstance(value, (str, int)) else repr(float(value))}"
                for element, value in hold.items()]
    return [str(text) for text in hold]
