// libmosquitto, loaded when annc-line first has MQTT to do (--mqtt, an
// mqtt: source) rather than linked: with libssl and libcrypto it would hold
// about 1.8 MB of annc-line's memory for every user, broker or not. Its
// header still gives the types and constants.
#ifndef ANNC_LINE_MQTT_MOSQUITTO_LIBRARY_H_
#define ANNC_LINE_MQTT_MOSQUITTO_LIBRARY_H_

#include <mosquitto.h>

#include <string>

namespace annc {

// The functions annc-line calls, each as libmosquitto has it.
struct MosquittoLibrary {
  decltype(&::mosquitto_lib_init) lib_init = nullptr;
  decltype(&::mosquitto_new) new_client = nullptr;
  decltype(&::mosquitto_destroy) destroy = nullptr;
  decltype(&::mosquitto_socket) socket = nullptr;
  decltype(&::mosquitto_subscribe) subscribe = nullptr;
  decltype(&::mosquitto_int_option) int_option = nullptr;
  decltype(&::mosquitto_connect_callback_set) connect_callback_set = nullptr;
  decltype(&::mosquitto_publish_callback_set) publish_callback_set = nullptr;
  decltype(&::mosquitto_message_callback_set) message_callback_set = nullptr;
  decltype(&::mosquitto_log_callback_set) log_callback_set = nullptr;
  decltype(&::mosquitto_will_set) will_set = nullptr;
  decltype(&::mosquitto_username_pw_set) username_pw_set = nullptr;
  decltype(&::mosquitto_tls_set) tls_set = nullptr;
  decltype(&::mosquitto_tls_opts_set) tls_opts_set = nullptr;
  decltype(&::mosquitto_connect_async) connect_async = nullptr;
  decltype(&::mosquitto_strerror) strerror = nullptr;
  decltype(&::mosquitto_connack_string) connack_string = nullptr;
  decltype(&::mosquitto_publish) publish = nullptr;
  decltype(&::mosquitto_loop_misc) loop_misc = nullptr;
  decltype(&::mosquitto_want_write) want_write = nullptr;
  decltype(&::mosquitto_loop_write) loop_write = nullptr;
  decltype(&::mosquitto_loop_read) loop_read = nullptr;
  decltype(&::mosquitto_disconnect) disconnect = nullptr;
};

// The library's file, as its package installs it.
constexpr const char* kMosquittoLibraryFile = "libmosquitto.so.1";

// Loads `file` and finds the functions in it: true, or false with *error
// saying why in one line ("cannot load FILE: ...", "libmosquitto lacks
// mosquitto_publish (FILE)") and nothing kept loaded.
bool LoadMosquittoFrom(const char* file, MosquittoLibrary* library, std::string* error);

// kMosquittoLibraryFile, loaded and set up (mosquitto_lib_init) at the
// first call and kept to the process's end; nothing when it cannot be, with
// *error (each call gives the same answer).
const MosquittoLibrary* Mosquitto(std::string* error);

}  // namespace annc

#endif  // ANNC_LINE_MQTT_MOSQUITTO_LIBRARY_H_
