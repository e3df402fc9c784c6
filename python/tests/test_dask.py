"""Many fits on a Dask cluster: each task prepares and fits one site for one
number of factors from its measured tables, with its seed fixed, and the gathered
DataFrames are those of a plain loop."""

import sys

import pandas as pd
import pytest

import tarnok
from conftest import EXAMPLES

distributed = pytest.importorskip("distributed")
cloudpickle = pytest.importorskip("cloudpickle")

SITES = {
    "st_louis": ("concentrations.csv", "uncertainties.csv", "Mass"),
    "baltimore": ("concentrations.txt", "uncertainties.txt", "PM2.5"),
}


def fit_site(site, factors):
    """One task: a whole fit, its tables as DataFrames."""
    values, uncertainties, total = SITES[site]
    measured = EXAMPLES / site / "measured"
    problem, _ = tarnok.prepare(measured / values, measured / uncertainties, total=total, factors=factors, seed=7)
    result = tarnok.fit(problem, passes=150, threads=1)
    return {"contributions": result.contributions, "profiles": result.profiles, "chi2": result.chi2}


def test_local_cluster_gives_the_tables_of_a_plain_loop():
    tasks = [(site, factors) for site in SITES for factors in (3, 4, 5)]
    cloudpickle.register_pickle_by_value(sys.modules[__name__])  # workers need not import the tests
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as client:
        futures = [client.submit(fit_site, site, factors, pure=False) for site, factors in tasks]
        gathered = client.gather(futures)
    for (site, factors), tables in zip(tasks, gathered):
        plain = fit_site(site, factors)
        assert tables["chi2"] == plain["chi2"]
        for name in ("contributions", "profiles"):
            pd.testing.assert_frame_equal(tables[name], plain[name], check_exact=True)
        assert tables["profiles"].shape[1] == factors
