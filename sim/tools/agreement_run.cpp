// halvex-agreement: a simulated monitor with a bad line, polled by a real
// Halvex30 for many rounds; prints how the rounds went and whether any value
// the device accepted differs from what the monitor sent.
//
// Exits 1 when no round completed, or when a published value differs from
// what the monitor sent without a corrupted reply to explain it.

#include <cstdio>
#include <iostream>

#include <CLI/CLI.hpp>

#include "agreement_rig.h"
#include "sim/counters.h"

namespace {

using sim::agreement::AgreementRig;
using sim::agreement::PublishedRound;
using sim::agreement::Values;

struct Options {
  uint64_t rounds = 1000;
  uint64_t seed = 1;
  double drop = 0.05;
  double corrupt = 0.05;
  double split = 0.5;
};

struct Differences {
  uint64_t rounds = 0;       // records with at least one value off
  uint64_t values = 0;       // values off, over all records
  uint64_t unexplained = 0;  // records off although no accepted reply was corrupted
};

int ValuesOff(const Values& got, const Values& want) {
  int off = 0;
  for (size_t i = 0; i < got.cells.size(); ++i) off += got.cells[i] != want.cells[i];
  off += got.group != want.group;
  off += got.current != want.current;
  off += got.temperature != want.temperature;
  return off;
}

Differences Compare(const std::vector<PublishedRound>& rounds) {
  Differences d;
  for (const PublishedRound& round : rounds) {
    const int off = ValuesOff(sim::agreement::DecodedOf(round.record), round.expected);
    if (off == 0) continue;
    ++d.rounds;
    d.values += static_cast<uint64_t>(off);
    if (!round.corrupted) ++d.unexplained;
  }
  return d;
}

void Line(const char* name, uint64_t value) {
  std::printf("%s %llu\n", name, static_cast<unsigned long long>(value));
}

void Report(const Options& o, const AgreementRig& rig) {
  const sim::agreement::Tally& t = rig.tally();
  const sim::Counters& c = rig.bus().counters();
  const Differences d = Compare(rig.rounds());
  std::printf("# %llu rounds, seed %llu, drop %g, corrupt %g, split %g\n",
              static_cast<unsigned long long>(o.rounds), static_cast<unsigned long long>(o.seed),
              o.drop, o.corrupt, o.split);
  std::printf("# the device\n");
  Line("rounds_attempted", t.rounds_started);
  Line("rounds_completed", t.rounds_completed);
  Line("resends", t.resends);
  Line("refused_cell_replies", t.refused_cell);
  Line("refused_scalar_replies", t.refused_scalar);
  Line("frames_rejected", t.refused());
  std::printf("# the simulator\n%s", sim::FormatCounters(c).c_str());
  std::printf("# accepted values against what the monitor sent\n");
  Line("corrupted_replies_taken", t.corrupted_taken);
  // Expected number of corrupted replies the checksum lets through, from
  // each corrupted reply's clean frame (see UndetectedChance).
  std::printf("expected_undetected %.3g  (of %llu corrupted replies)\n", t.expected_undetected,
              static_cast<unsigned long long>(c.fault(sim::Fault::kCorrupt)));
  Line("rounds_with_corrupted_reply", t.corrupted_accepted);
  Line("differing_rounds", d.rounds);
  Line("differing_values", d.values);
  Line("differing_unexplained", d.unexplained);
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  CLI::App app{
      "Polls a simulated monitor with a Halvex30 over a faulty line and compares "
      "what the device published with what the monitor sent."};
  app.add_option("-n,--rounds", o.rounds, "Poll cycles to begin (default 1000)")
      ->check(CLI::PositiveNumber);
  app.add_option("--seed", o.seed, "Bus seed: readings, noise and every fault (default 1)");
  app.add_option("--drop", o.drop, "Chance a reply is not sent (default 0.05)")
      ->check(CLI::Range(0.0, 1.0));
  app.add_option("--corrupt", o.corrupt, "Chance one byte of a reply is changed (default 0.05)")
      ->check(CLI::Range(0.0, 1.0));
  app.add_option("--split", o.split, "Chance a reply comes in 2..4 pieces (default 0.5)")
      ->check(CLI::Range(0.0, 1.0));
  CLI11_PARSE(app, argc, argv);

  sim::agreement::RigSetup setup;
  setup.seed = o.seed;
  setup.monitor.profile.current_amps = 12.3;
  setup.monitor.faults[sim::Fault::kDrop].rate = o.drop;
  setup.monitor.faults[sim::Fault::kCorrupt].rate = o.corrupt;
  setup.monitor.faults[sim::Fault::kSplit].rate = o.split;
  AgreementRig rig(setup);
  rig.RunRounds(o.rounds);
  Report(o, rig);
  const bool sane = rig.tally().rounds_completed > 0 && Compare(rig.rounds()).unexplained == 0;
  return sane ? 0 : 1;
}
