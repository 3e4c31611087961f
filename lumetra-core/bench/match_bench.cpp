// match_template against OpenCV's template matching on full-HD screens.
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
  return run_comparison(argc, argv, standard_cases(), contenders);
}
