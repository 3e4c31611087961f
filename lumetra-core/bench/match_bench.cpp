// match_template, at one scale and at the five of size variation, against OpenCV's
// template matching on full-HD screens.
#include <cstdio>
#include <string_view>

#include "bench_support.h"
#include "lumetra/cpu.h"

int main(int argc, char** argv) {
  using namespace lumetra;
  using namespace lumetra::bench;
  // --level=NAME caps the vector level (cpu::level_name's names), to time the narrower paths.
  if (argc > 1 && std::string_view(argv[1]).starts_with("--level=")) {
    const auto level = cpu::level_from_name(std::string_view(argv[1]).substr(8));
    if (!level) {
      std::fprintf(stderr, "unknown level: %s\n", argv[1] + 8);
      return 2;
    }
    cpu::cap_level(*level);
    argv[1] = argv[0];
    --argc;
    ++argv;
  }
  std::printf("lumetra kernels: %s\n", cpu::level_name(cpu::level()));
  std::vector<Contender> contenders = {opencv_full(), opencv_coarse_to_fine()};
  contenders.push_back(Contender{"match_template", [](const Case& c) {
                                   return best_of(match_template(*c.screen, c.pattern, 1.0f, c.min_similarity));
                                 }});
  // Size variation as the host's search runs it: the pattern at five scales over one
  // prepared haystack, whose quarter-size copy is built once. Its "ours" column set
  // against the single-scale one gives the cost of the variation; against OpenCV, the
  // cost of five searches next to one of theirs.
  contenders.push_back(Contender{"5 scales", [](const Case& c) {
                                   const SearchHaystack hay(*c.screen);
                                   std::vector<Match> hits;
                                   for (const float k : {1.0f, 0.9f, 0.95f, 1.05f, 1.1f}) {
                                     match_template(hay, c.pattern, k, c.min_similarity,
                                                    [&hits](const Match& m) { hits.push_back(m); });
                                   }
                                   return best_of(hits);
                                 }});
  return run_comparison(argc, argv, standard_cases(), contenders);
}
