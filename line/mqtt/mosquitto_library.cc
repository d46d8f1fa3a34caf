#include "line/mqtt/mosquitto_library.h"

#include <dlfcn.h>

namespace annc {

namespace {

template <typename Function>
void Find(void* handle, const char* name, Function* function, std::string* error) {
  *function = reinterpret_cast<Function>(::dlsym(handle, name));
  if (*function == nullptr && error->empty()) *error = std::string("libmosquitto lacks ") + name;
}

struct Loaded {
  MosquittoLibrary library;
  std::string error;  // empty: loaded
};

Loaded LoadAndSetUp() {
  Loaded loaded;
  if (!LoadMosquittoFrom(kMosquittoLibraryFile, &loaded.library, &loaded.error)) return loaded;
  // Its own set-up, once; annc-line never calls its cleanup, as a
  // connection may be open until the end.
  loaded.library.lib_init();
  return loaded;
}

}  // namespace

bool LoadMosquittoFrom(const char* file, MosquittoLibrary* library, std::string* error) {
  error->clear();
  void* handle = ::dlopen(file, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = ::dlerror();
    *error = std::string("cannot load ") + file + ": " + (why != nullptr ? why : "unknown error");
    return false;
  }
  MosquittoLibrary& l = *library;
  std::string& e = *error;
  Find(handle, "mosquitto_lib_init", &l.lib_init, &e);
  Find(handle, "mosquitto_new", &l.new_client, &e);
  Find(handle, "mosquitto_destroy", &l.destroy, &e);
  Find(handle, "mosquitto_socket", &l.socket, &e);
  Find(handle, "mosquitto_subscribe", &l.subscribe, &e);
  Find(handle, "mosquitto_int_option", &l.int_option, &e);
  Find(handle, "mosquitto_connect_callback_set", &l.connect_callback_set, &e);
  Find(handle, "mosquitto_publish_callback_set", &l.publish_callback_set, &e);
  Find(handle, "mosquitto_message_callback_set", &l.message_callback_set, &e);
  Find(handle, "mosquitto_log_callback_set", &l.log_callback_set, &e);
  Find(handle, "mosquitto_will_set", &l.will_set, &e);
  Find(handle, "mosquitto_username_pw_set", &l.username_pw_set, &e);
  Find(handle, "mosquitto_tls_set", &l.tls_set, &e);
  Find(handle, "mosquitto_tls_opts_set", &l.tls_opts_set, &e);
  Find(handle, "mosquitto_connect_async", &l.connect_async, &e);
  Find(handle, "mosquitto_strerror", &l.strerror, &e);
  Find(handle, "mosquitto_connack_string", &l.connack_string, &e);
  Find(handle, "mosquitto_publish", &l.publish, &e);
  Find(handle, "mosquitto_loop_misc", &l.loop_misc, &e);
  Find(handle, "mosquitto_want_write", &l.want_write, &e);
  Find(handle, "mosquitto_loop_write", &l.loop_write, &e);
  Find(handle, "mosquitto_loop_read", &l.loop_read, &e);
  Find(handle, "mosquitto_disconnect", &l.disconnect, &e);
  if (e.empty()) return true;
  e += std::string(" (") + file + ")";
  *library = MosquittoLibrary{};
  ::dlclose(handle);
  return false;
}

const MosquittoLibrary* Mosquitto(std::string* error) {
  static const Loaded loaded = LoadAndSetUp();
  if (!loaded.error.empty()) {
    *error = loaded.error;
    return nullptr;
  }
  return &loaded.library;
}

}  // namespace annc
