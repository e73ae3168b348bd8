// tavosum: posterior means and standard deviations of the saved samples of a run.
#pragma once

namespace tavosum {

// The whole program: returns 0 when the summary was written, 1 on any error.
int run(int argc, char** argv);

}  // namespace tavosum
