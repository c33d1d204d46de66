#include "protocol/serve_loop.h"

namespace qm {

int serve_requests(int) { return 0; }  // placeholder until the loop lands

}  // namespace qm
