// annc-web: the call history as web pages.
#ifndef ANNC_WEB_ANNC_WEB_H_
#define ANNC_WEB_ANNC_WEB_H_

namespace annc::web {

// The whole program; returns its exit code.
int RunAnncWeb(int argc, char** argv);

}  // namespace annc::web

#endif  // ANNC_WEB_ANNC_WEB_H_
