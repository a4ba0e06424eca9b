#include "operations/operations.h"

namespace vfb {

const char *const kGraphHost = "graph.facebook.com";
const char *const kRestHost = "api.facebook.com";
const char *const kVideoHost = "graph-video.facebook.com";
const char *const kDialogHost = "www.facebook.com";

}  // namespace vfb
