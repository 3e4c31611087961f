// match_template, at one scale and at the five of size variation, against OpenCV's
// template matching on full-HD screens.
#include "bench_support.h"

#include "simd.h"

#include <cstdio>

int main(int argc, char** argv) {
  using namespace lumetra;
  using namespace lumetra::bench;
  std::printf("lumetra kernels: %s\n", detail::simd_level_name(detail::active_simd_level()));
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
