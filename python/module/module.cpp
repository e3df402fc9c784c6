// The module tarnok._tarnok: the console program's problem, fit, result table,
// report folder, bootstrap and prepare, for the pure-Python package around it.
// Tables cross as NumPy arrays (copies), texts as str; a failure of the program
// is raised as ValueError with the console's message.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "control/failure.h"
#include "displacement/displacement.h"
#include "displacement/hold.h"
#include "ensemble/bootstrap.h"
#include "ensemble/stability.h"
#include "fit/stop_line.h"
#include "prepare/fit_files.h"
#include "prepare/prepare_options.h"
#include "prepare/prepared_tables.h"
#include "python_fit.h"
#include "robust/summary.h"
#include "stats/diagnostics.h"

namespace py = pybind11;

namespace {

// Text of the program as str; bytes that are not UTF-8 are replaced.
py::str text(const std::string& s) {
  PyObject* decoded = PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), "replace");
  if (decoded == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(decoded);
}

py::list texts(const std::vector<std::string>& items) {
  py::list list;
  for (const std::string& s : items) list.append(text(s));
  return list;
}

// A copy of `values` as an array of `rows` x `cols` (a vector when cols is 0).
template <class T, class U = T>
py::array_t<T> array(const std::vector<U>& values, int rows, int cols) {
  std::vector<py::ssize_t> shape = {rows};
  if (cols > 0) shape.push_back(cols);
  py::array_t<T> out(shape);
  T* data = out.mutable_data();
  for (std::size_t i = 0; i < values.size(); ++i) data[i] = static_cast<T>(values[i]);
  return out;
}

py::list identifiers(const Problem& problem) {
  py::list ids;
  for (int s = 0; s < problem.nrec; ++s) ids.append(text(std::string(problem.id(s))));
  return ids;
}

py::dict text_table(const TextTable& table) {
  py::list rows;
  for (const std::vector<std::string>& row : table.rows) rows.append(texts(row));
  py::dict out;
  out["headings"] = texts(table.headings);
  out["rows"] = rows;
  return out;
}

template <class T>
std::vector<T> flat(const py::array_t<T, py::array::c_style | py::array::forcecast>& a) {
  return std::vector<T>(a.data(), a.data() + a.size());
}

// The prepare command's phases without its console summary: the fit's files and
// the species table into the folder the arguments name.
void prepare_into(const std::vector<std::string>& args) {
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  const PrepareOptions o = parse_prepare_options(static_cast<int>(argv.size()), argv.data());
  if (o.help) return;
  const std::unique_ptr<StagedFolder> staged =
      prepare_output_folder(o.outdir, o.force, {o.concentrations, o.uncertainties, o.mdl, o.profiles});
  PreparedTables tables = read_prepared_tables(o);
  settle_tables(o, tables);
  const FitFiles files = starting_files(o, tables);
  write_fit_files(o.outdir, *staged, files, tables.species, tables.values, tables.u);
}

const char* reason_name(StopReason reason) {
  switch (reason) {
    case StopReason::key:
      return "key";
    case StopReason::pass_limit:
      return "pass_limit";
    case StopReason::interrupted:
      return "interrupted";
    case StopReason::converged:
      return "converged";
    case StopReason::diverged:
      return "diverged";
  }
  return "";
}

}  // namespace

PYBIND11_MODULE(_tarnok, m) {
  m.doc() = "The fit of tarnok, the same core as the console program.";
  py::register_exception_translator([](std::exception_ptr error) {
    try {
      if (error) std::rethrow_exception(error);
    } catch (const Failure& failure) {
      PyErr_SetString(PyExc_ValueError, failure.what());
    }
  });

  py::class_<PythonProblem>(m, "Problem")
      .def_property_readonly("nfakt", [](const PythonProblem& p) { return p.problem->nfakt; })
      .def_property_readonly("nvar", [](const PythonProblem& p) { return p.problem->nvar; })
      .def_property_readonly("nrec", [](const PythonProblem& p) { return p.problem->nrec; })
      .def_property_readonly("offset", [](const PythonProblem& p) { return p.problem->offset != 0; })
      .def_property_readonly("faktnavn", [](const PythonProblem& p) { return texts(p.problem->faktnavn); })
      .def_property_readonly("varnavn", [](const PythonProblem& p) { return texts(p.problem->varnavn); })
      .def_property_readonly("title", [](const PythonProblem& p) { return text(p.problem->text); })
      .def_property_readonly("xnavn", [](const PythonProblem& p) { return text(p.problem->xnavn); })
      .def_property_readonly("ids", [](const PythonProblem& p) { return identifiers(*p.problem); })
      .def_property_readonly("files", [](const PythonProblem& p) { return texts(p.files); })
      .def_property_readonly("starting_p", [](const PythonProblem& p) {
        return array<double>(p.problem->starting_p, p.problem->nvar, p.problem->nfakt);
      })
      .def_property_readonly("fp", [](const PythonProblem& p) { return array<int>(p.problem->fp, p.problem->nvar, p.problem->nfakt); })
      .def_property_readonly("rawdata", [](const PythonProblem& p) {
        return array<float>(p.problem->rawdata, p.problem->nrec, p.problem->nvar);
      })
      .def_property_readonly("usik", [](const PythonProblem& p) { return array<float>(p.problem->usik, p.problem->nrec, p.problem->nvar); });

  m.def("load", &load_problem, py::arg("profile"), py::arg("form"), py::arg("data"), py::arg("offset"),
        py::call_guard<py::gil_scoped_release>());
  m.def(
      "with_start",
      [](const PythonProblem& base, const std::vector<std::string>& faktnavn,
         const py::array_t<double, py::array::c_style | py::array::forcecast>& p,
         const py::array_t<int, py::array::c_style | py::array::forcecast>& fp) {
        return with_start(base, faktnavn, flat(p), flat(fp));
      },
      py::arg("base"), py::arg("faktnavn"), py::arg("p"), py::arg("fp"));
  m.def("prepare", &prepare_into, py::arg("args"), py::call_guard<py::gil_scoped_release>());

  py::class_<PythonFit, std::shared_ptr<PythonFit>>(m, "Fit")
      .def_property_readonly("x", [](const PythonFit& f) { return array<double>(f.state.x, f.input.problem->nrec, f.input.problem->nfakt); })
      .def_property_readonly("p", [](const PythonFit& f) { return array<double>(f.state.p, f.input.problem->nvar, f.input.problem->nfakt); })
      .def_property_readonly("t", [](const PythonFit& f) { return array<double>(f.state.t, f.input.problem->nrec, 0); })
      .def_property_readonly("r", [](const PythonFit& f) { return array<double, float>(f.state.r, f.input.problem->nvar, 0); })
      .def_property_readonly("ny", [](const PythonFit& f) { return array<int>(f.state.ny, f.input.problem->nvar, 0); })
      .def_property_readonly("chi", [](const PythonFit& f) { return array<double>(f.regression.chi, f.input.problem->nvar, 0); })
      .def_property_readonly("coef", [](const PythonFit& f) {
        return array<double>(f.regression.coef, f.input.problem->nvar, f.input.problem->nfakt);
      })
      .def_property_readonly("se", [](const PythonFit& f) { return array<double>(f.regression.se, f.input.problem->nvar, f.input.problem->nfakt); })
      .def_property_readonly("chi2", [](const PythonFit& f) { return f.state.chi2; })
      .def_property_readonly("nytot", [](const PythonFit& f) { return f.state.nytot; })
      .def_property_readonly("reason", [](const PythonFit& f) { return reason_name(f.outcome.reason); })
      .def_property_readonly("passes", [](const PythonFit& f) { return f.outcome.passes; })
      .def_property_readonly("result_pass", [](const PythonFit& f) { return f.outcome.result_pass; })
      .def_property_readonly("diverged_pass", [](const PythonFit& f) { return f.outcome.diverged_pass; })
      .def_property_readonly("not_converged", [](const PythonFit& f) { return f.outcome.not_converged; })
      .def_property_readonly("stop_line",
                             [](const PythonFit& f) {
                               // The console's closing line names the held elements before its end ".\n".
                               std::string line = stop_line(f.outcome, f.state.chi2, f.state.nytot);
                               const std::string held = holds_text(*f.input.problem, f.settings.holds);
                               if (!held.empty()) line.insert(line.size() - 2, "; " + held);
                               return line;
                             })
      .def_property_readonly("robust_line", [](const PythonFit& f) {
        if (!f.robust) return std::string();
        return robust_line(summarize_robust(*f.input.problem, f.state, f.robust->alpha()));
      })
      .def_property_readonly("lines", [](const PythonFit& f) {
        const std::vector<PassLine>& lines = f.outcome.lines;
        py::dict out;
        std::vector<double> chi2, ratio, sumsq;
        std::vector<int> nytot;
        for (const PassLine& line : lines) {
          chi2.push_back(line.chi2);
          nytot.push_back(line.nytot);
          ratio.push_back(line.ratio);
          sumsq.push_back(line.sumsq);
        }
        const int n = static_cast<int>(lines.size());
        out["chi2"] = array<double>(chi2, n, 0);
        out["ny"] = array<int>(nytot, n, 0);
        out["chi2/ny"] = array<double>(ratio, n, 0);
        out["sumsq"] = array<double>(sumsq, n, 0);
        out["seconds"] = array<double>(f.outcome.pass_seconds, static_cast<int>(f.outcome.pass_seconds.size()), 0);
        return out;
      })
      .def_property_readonly("problem", [](const PythonFit& f) { return f.input; })
      .def_property_readonly("starts", [](const PythonFit& f) {
        if (f.request.starts == 0 && f.request.fresh_starts == 0) return py::object(py::none());
        return py::object(text_table(starts_table(*f.input.problem, f.starts)));
      })
      .def(
          "stability_line",
          [](const PythonFit& f, const std::string& total) {
            if (f.request.starts == 0 && f.request.fresh_starts == 0) return std::string();
            const int v = total.empty() ? -1 : find_variable(*f.input.problem, total);  // -1: all variables
            return stability_line(*f.input.problem, assess_stability(*f.input.problem, f.starts, v), total);
          },
          py::arg("total"))
      .def("write_table", &write_table, py::arg("path"), py::call_guard<py::gil_scoped_release>())
      .def("report", &write_report_folder, py::arg("dir"), py::arg("total"), py::arg("units"), py::arg("result_path"),
           py::arg("bootstrap"), py::arg("displacement"), py::call_guard<py::gil_scoped_release>())
      .def(
          "bootstrap",
          [](const PythonFit& f, int replicates, long block, std::uint64_t seed, double min_r,
             std::optional<bool> accelerate, const std::string& total) {
            return bootstrap_fit(f, replicates, BootstrapRequest{block, seed, min_r, accelerate, total});
          },
          py::arg("replicates"), py::arg("block"), py::arg("seed"), py::arg("min_r"), py::arg("accelerate"),
          py::arg("total"))
      .def("displacement", &displace_fit, py::arg("levels"), py::arg("threads"), py::arg("total"),
           py::arg("bootstrap"));

  py::class_<PythonDisplacement>(m, "Displacement")
      .def_property_readonly("levels", [](const PythonDisplacement& d) { return d.run.levels; })
      .def_property_readonly("base_chi2", [](const PythonDisplacement& d) { return d.run.base_chi2; })
      .def_property_readonly("fits", [](const PythonDisplacement& d) { return d.run.fits; })
      .def_property_readonly("failed", [](const PythonDisplacement& d) { return d.run.failed; })
      .def_property_readonly("searches", [](const PythonDisplacement& d) { return d.run.searches; })
      .def_property_readonly("not_run", [](const PythonDisplacement& d) { return d.run.not_run; })
      .def_property_readonly("decreased", [](const PythonDisplacement& d) { return d.run.decreased(); })
      .def_property_readonly("summary", [](const PythonDisplacement& d) { return text(displacement_summary(d.run)); })
      .def("table", [](const PythonDisplacement& d, const PythonFit& f) {
        return text_table(displacement_table(*f.input.problem, d.run));
      })
      .def("summary_table", [](const PythonDisplacement& d) { return text_table(displacement_summary_table(d.run)); })
      .def_property_readonly("apportionment", [](const PythonDisplacement& d) {
        if (!d.apportionment) return py::object(py::none());
        return py::object(text_table(*d.apportionment));
      });

  py::class_<PythonBootstrap>(m, "Bootstrap")
      .def_property_readonly("replicates", [](const PythonBootstrap& b) { return b.run.replicates; })
      .def_property_readonly("block", [](const PythonBootstrap& b) { return b.run.block; })
      .def_property_readonly("fitted", [](const PythonBootstrap& b) { return b.run.fitted; })
      .def_property_readonly("failed", [](const PythonBootstrap& b) { return b.run.failed; })
      .def_property_readonly("not_run", [](const PythonBootstrap& b) { return b.run.not_run; })
      .def_property_readonly("mapped", [](const PythonBootstrap& b) { return b.run.mapped; })
      .def("summary", [](const PythonBootstrap& b, const PythonFit& f) { return text(bootstrap_summary(*f.input.problem, b.run)); })
      .def("table", [](const PythonBootstrap& b, const PythonFit& f) { return text_table(bootstrap_table(*f.input.problem, f.state, b.run)); })
      .def("mapping", [](const PythonBootstrap& b, const PythonFit& f) { return text_table(mapping_table(*f.input.problem, b.run)); });

  m.def(
      "fit",
      [](const PythonProblem& problem, long passes, double converge, bool keep_best, bool accelerate, double robust,
         std::optional<std::string> rotate, long starts, long fresh_starts, std::uint64_t seed, long threads,
         std::string names, std::vector<std::string> hold) {
        FitRequest request;
        request.passes = passes;
        request.converge = converge;
        request.keep_best = keep_best;
        request.accelerate = accelerate;
        request.robust = robust;
        request.rotate = std::move(rotate);
        request.starts = starts;
        request.fresh_starts = fresh_starts;
        request.names = std::move(names);
        request.hold = std::move(hold);
        request.seed = seed;
        request.threads = threads;
        return fit_problem(problem, request);
      },
      py::arg("problem"), py::arg("passes"), py::arg("converge"), py::arg("keep_best"), py::arg("accelerate"),
      py::arg("robust"),
      py::arg("rotate"), py::arg("starts"), py::arg("fresh_starts"), py::arg("seed"), py::arg("threads"),
      py::arg("names"), py::arg("hold"));
}
