// The Gauss-Newton system of a fit's free profile elements, with the
// contributions eliminated: what the Newton fit steps with, and what the
// displacement reads its quadratic model of chi2 from.
//
// - For given profiles the contributions are those of the contribution step
//   (the ordinary one, or with a held element the one that keeps its value), so
//   chi2 is a function of the free profile elements alone.
// - Its gradient is the profile gradient of chi2 / 2 at those contributions; its
//   matrix is the Gauss-Newton matrix of profiles and contributions with the
//   contributions of every record (those the step solved, the others stay 0)
//   eliminated, and with one factor's sum of contributions kept fixed (the held
//   factor's).
// - A step solves that system with a Levenberg-Marquardt damping, keeps the
//   elements non-negative (an element at 0 that chi2 pushes further down stays
//   out of the step), and is taken only when chi2 falls; otherwise the damping
//   grows and the step is tried again.
//
// Every sum runs in a fixed order, so nothing depends on the thread that runs it.
#pragma once

#include <memory>
#include <vector>

#include "fit/held_contributions.h"
#include "model/fit_settings.h"
#include "model/fit_state.h"
#include "model/problem.h"

class NewtonSystem {
 public:
  // The free elements of the problem's form; with a held element
  // (settings.holds, at most one) its factor's sum of contributions is kept.
  NewtonSystem(const Problem& problem, const FitSettings& settings);

  // The contribution step from state.p: x, dy and the pass totals.
  bool contributions(FitState& state);

  // Keeps `factor`'s sum of contributions fixed in the next normal equations
  // (-1: none), in place of the held factor's; the contribution step is unchanged.
  void keep_sum_of(int factor) { held_factor_ = factor; }

  // The gradient of chi2 / 2 over the free elements at the state's contributions
  // and its Gauss-Newton matrix with the contributions eliminated (full square).
  void normal_equations(const FitState& state);

  // One damped step from `state`; replaces it and returns the fall of chi2 when
  // chi2 fell, else returns a value below 0 and leaves it.
  double step(FitState& state, FitState& trial);

  // The fall of chi2 that the undamped step from the latest normal equations
  // promises (its Newton decrement); also chooses the elements that move.
  double decrement(const FitState& state);

  long solves() const { return solves_; }
  // Whether the latest contribution step kept a held element (else it was the
  // ordinary one).
  bool held_step() const { return held_step_; }

  // The free elements e = v * nfakt + f, by variable, then factor; and the latest
  // normal equations over them (gradient, matrix of order elements().size()).
  const std::vector<int>& elements() const { return element_; }
  const std::vector<double>& gradient() const { return gradient_; }
  const std::vector<double>& matrix() const { return system_; }

 private:
  // Adds record s `copies` times (the record and its repeats).
  void add_record(const FitState& state, int s, int copies);
  // Adds the blocks of the pending record and, with `two`, of the one after it
  // (see add_record).
  void flush_blocks(bool two);
  void choose_moving(const FitState& state);
  bool solve(double damping);

  const Problem& problem_;
  const FitSettings& settings_;
  std::unique_ptr<HeldContributions> held_;
  int held_factor_ = -1;           // the factor whose sum of contributions is kept, -1: none
  bool held_step_ = false;         // the latest contribution step kept the held element
  std::vector<int> element_;       // free elements e = v * nfakt + f, by variable, then factor
  std::vector<int> factor_;        // their factors
  std::vector<int> first_;         // per variable: its first position in element_ (nvar + 1)
  std::vector<int> pairs_;         // the pairs of variables (v, u), u <= v, both with free elements
  std::vector<double> blocks_;     // per pair: its block of the system by factors (nfakt x nfakt)
  std::vector<double> weight_;     // 1 / u / u per value, 0 for a missing one
  std::vector<int> copies_;        // per record: how often it counts (0 for a repeat)
  std::vector<double> gradient_;   // free elements
  std::vector<double> system_;     // free elements squared
  std::vector<double> z_;          // with a held factor: the system's correction for its fixed sum
  double z_scale_ = 0.0;           // and the sum of the inverse blocks' held diagonals
  double damping_ = 0.0;
  int rejections_ = 0;
  long solves_ = 0;
  // Scratch of one record's elimination.
  std::vector<int> passive_;
  std::vector<double> xf_;  // per free element: the record's contribution of its factor
  std::vector<double> xx_;  // the outer product of the record's contributions (nfakt x nfakt)
  std::vector<double> h_, l_, ut_, mm_, t_;
  std::vector<double> coefficient_;  // per pending record and pair of variables: its coefficient of the outer product
  int pending_ = 0;                  // records whose blocks wait to be added (0 or 1)
  // Scratch of a step.
  std::vector<int> moving_;
  double largest_ = 0.0;
  std::vector<double> a_, l_step_, delta_;
};
