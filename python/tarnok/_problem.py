"""Problems: the console program's three input files, or measured tables prepared
as `tarnok prepare` prepares them."""

from __future__ import annotations

import os
import tempfile
from dataclasses import dataclass, field
from typing import Optional, Sequence, Union

import pandas as pd

from . import _tarnok

Table = Union[str, os.PathLike, pd.DataFrame]


@dataclass(frozen=True)
class _Preparation:
    """What a prepared problem was made from, to prepare it again for another
    number of factors."""

    args: tuple  # the prepare command's arguments less --factors, the folder last
    folder: tempfile.TemporaryDirectory = field(compare=False)  # keeps the written tables


class Problem:
    """A problem as the fit reads it: names, measured values and uncertainties,
    the starting profiles and the form. Read-only; every fit of it shares it."""

    def __init__(self, core: _tarnok.Problem, preparation: Optional[_Preparation] = None):
        self._core = core
        self._preparation = preparation  # keeps the prepared files it was read from

    @property
    def factors(self) -> list:
        return self._core.faktnavn

    @property
    def species(self) -> list:
        return self._core.varnavn

    @property
    def samples(self) -> pd.Index:
        return pd.Index(self._core.ids, name=self._core.xnavn or None)

    @property
    def title(self) -> str:
        return self._core.title

    @property
    def offset(self) -> bool:
        return self._core.offset

    @property
    def files(self) -> list:
        """The profile, form and data files it was read from (empty when made in memory)."""
        return self._core.files

    @property
    def concentrations(self) -> pd.DataFrame:
        return pd.DataFrame(self._core.rawdata, index=self.samples, columns=self.species)

    @property
    def uncertainties(self) -> pd.DataFrame:
        """Uncertainties as the fit weighs with them; <= 0 marks a missing value."""
        return pd.DataFrame(self._core.usik, index=self.samples, columns=self.species)

    @property
    def starting_profiles(self) -> pd.DataFrame:
        return pd.DataFrame(self._core.starting_p, index=pd.Index(self.species, name="species"),
                            columns=self.factors)

    @property
    def form(self) -> pd.DataFrame:
        """1 for a free profile element, 0 for a held one."""
        return pd.DataFrame(self._core.fp, index=pd.Index(self.species, name="species"), columns=self.factors)

    def with_start(self, profiles: pd.DataFrame, form: Optional[pd.DataFrame] = None) -> "Problem":
        """The same measurements with other starting profiles (species x factors,
        rows matched by species name) and form (every element free when None)."""
        profiles = profiles.reindex(self.species)
        if profiles.isna().to_numpy().any():
            raise ValueError("Error: the starting profiles need a row for every species of the problem: "
                             + ", ".join(self.species) + "\n")
        if form is None:
            fp = (profiles * 0 + 1).astype("int32")
        else:
            fp = (form.reindex(index=self.species, columns=profiles.columns).fillna(0) != 0).astype("int32")
        names = [str(name) for name in profiles.columns]
        core = _tarnok.with_start(self._core, names, profiles.to_numpy(dtype="float64"), fp.to_numpy())
        return Problem(core, self._preparation)

    def with_factors(self, factors: int) -> "Problem":
        """A prepared problem prepared again with `factors` starting profiles."""
        if factors == len(self.factors):
            return self
        if self._preparation is None:
            raise ValueError("Error: factors=K needs a problem from tarnok.prepare; give profiles= instead!\n")
        problem, _ = _prepare_with(self._preparation, factors)
        return problem

    def __repr__(self) -> str:
        return (f"<tarnok.Problem {len(self.samples)} samples x {len(self.species)} species x "
                f"{len(self.factors)} factors>")


def load(profile: Union[str, os.PathLike], form: Union[str, os.PathLike], data: Union[str, os.PathLike],
         offset: bool = False) -> Problem:
    """Reads the console program's three input files; offset=True is mode O."""
    return Problem(_tarnok.load(os.fspath(profile), os.fspath(form), os.fspath(data), offset))


def _table_file(table: Table, folder: str, name: str) -> str:
    """The path of a table: a path as it is, a DataFrame written as CSV (its index
    the first column, numbers in Python's shortest round-trip text)."""
    if not isinstance(table, pd.DataFrame):
        return os.fspath(table)
    path = os.path.join(folder, name)
    table.to_csv(path, index=table.index.name is not None or not isinstance(table.index, pd.RangeIndex),
                 index_label=table.index.name or "Sample")
    return path


def _names(value) -> Optional[str]:
    if value is None or isinstance(value, str):
        return value
    return ",".join(value)


def prepare(concentrations: Table, uncertainties: Optional[Table] = None, mdl: Optional[Table] = None, *,
            factors: Optional[int] = None, profiles: Optional[Table] = None, names: Optional[Sequence[str]] = None,
            total: Optional[str] = None, bad: Optional[Sequence[str]] = None, weak: Optional[Sequence[str]] = None,
            missing: Optional[str] = None, missing_markers: Sequence[str] = (), delimiter: Optional[str] = None,
            seed: Optional[int] = None, start: Optional[str] = None, hold_zeros: bool = False):
    """Prepares measured tables (paths or DataFrames) as `tarnok prepare` does;
    returns the problem and the species table."""
    folder = tempfile.TemporaryDirectory(prefix="tarnok-prepare-")
    inputs = os.path.join(folder.name, "in")
    os.mkdir(inputs)
    args = [_table_file(concentrations, inputs, "concentrations.csv")]
    options = {
        "--uncertainties": None if uncertainties is None else _table_file(uncertainties, inputs, "uncertainties.csv"),
        "--mdl": None if mdl is None else _table_file(mdl, inputs, "mdl.csv"),
        "--profiles": None if profiles is None else _table_file(profiles, inputs, "profiles.csv"),
        "--names": _names(names),
        "--total": total,
        "--bad": _names(bad),
        "--weak": _names(weak),
        "--missing": missing,
        "--delimiter": delimiter,
        "--seed": None if seed is None else str(seed),
        "--start": start,
    }
    for option, value in options.items():
        if value is not None:
            args[:0] = [option, value]
    for marker in missing_markers:
        args[:0] = ["--missing-marker", marker]
    if hold_zeros:
        args[:0] = ["--hold-zeros"]
    preparation = _Preparation(tuple(args), folder)
    return _prepare_with(preparation, factors)


def _prepare_with(preparation: _Preparation, factors: Optional[int]):
    out = tempfile.mkdtemp(prefix="run-", dir=preparation.folder.name)
    args = list(preparation.args)
    if factors is not None:
        args[:0] = ["--factors", str(factors)]
    _tarnok.prepare(["prepare", *args, out])
    core = _tarnok.load(os.path.join(out, "profile.tsv"), os.path.join(out, "form.tsv"),
                        os.path.join(out, "data.tsv"), False)
    species = pd.read_csv(os.path.join(out, "species.tsv"), sep="\t", keep_default_na=False, na_values=["-"])
    return Problem(core, preparation), species
