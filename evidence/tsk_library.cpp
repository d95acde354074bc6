#include "evidence/tsk_library.h"

#include <dlfcn.h>

#include <type_traits>

namespace kbc::evidence::tsk {
namespace {

struct Library {
  decltype(&::tsk_img_open_external) img_open_external = nullptr;
  decltype(&::tsk_img_close) img_close = nullptr;
  decltype(&::tsk_vs_open) vs_open = nullptr;
  decltype(&::tsk_vs_close) vs_close = nullptr;
  decltype(&::tsk_vs_part_get) vs_part_get = nullptr;
  decltype(&::tsk_fs_open_img) fs_open_img = nullptr;
  decltype(&::tsk_fs_close) fs_close = nullptr;
  decltype(&::tsk_fs_dir_walk) fs_dir_walk = nullptr;
  decltype(&::tsk_fs_file_open_meta) fs_file_open_meta = nullptr;
  decltype(&::tsk_fs_file_close) fs_file_close = nullptr;
  decltype(&::tsk_fs_file_attr_get) fs_file_attr_get = nullptr;
  decltype(&::tsk_error_get) error_get = nullptr;
  decltype(&::tsk_error_reset) error_reset = nullptr;
  std::optional<std::string> problem;
};

// Kept for the life of the program, as a linked library is.
Library opened() {
  Library library;
  void* handle = ::dlopen(KBC_TSK_SONAME, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = ::dlerror();
    library.problem =
        std::string("The Sleuth Kit cannot be loaded: ") + (why ? why : KBC_TSK_SONAME);
    return library;
  }
  const auto find = [&](auto& function, const char* name) {
    function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(::dlsym(handle, name));
    if (function == nullptr && !library.problem) {
      library.problem = std::string("The Sleuth Kit has no ") + name;
    }
  };
  find(library.img_open_external, "tsk_img_open_external");
  find(library.img_close, "tsk_img_close");
  find(library.vs_open, "tsk_vs_open");
  find(library.vs_close, "tsk_vs_close");
  find(library.vs_part_get, "tsk_vs_part_get");
  find(library.fs_open_img, "tsk_fs_open_img");
  find(library.fs_close, "tsk_fs_close");
  find(library.fs_dir_walk, "tsk_fs_dir_walk");
  find(library.fs_file_open_meta, "tsk_fs_file_open_meta");
  find(library.fs_file_close, "tsk_fs_file_close");
  find(library.fs_file_attr_get, "tsk_fs_file_attr_get");
  find(library.error_get, "tsk_error_get");
  find(library.error_reset, "tsk_error_reset");
  return library;
}

const Library& library() {
  static const Library loaded = opened();
  return loaded;
}

}  // namespace

std::optional<std::string> load() {
  return library().problem;
}

TSK_IMG_INFO* img_open_external(void* image, TSK_OFF_T size, unsigned int sector_size,
                                ssize_t (*read)(TSK_IMG_INFO*, TSK_OFF_T, char*, size_t),
                                void (*close)(TSK_IMG_INFO*),
                                void (*imgstat)(TSK_IMG_INFO*, FILE*)) {
  return library().img_open_external(image, size, sector_size, read, close, imgstat);
}
void img_close(TSK_IMG_INFO* image) {
  library().img_close(image);
}
TSK_VS_INFO* vs_open(TSK_IMG_INFO* image, TSK_DADDR_T offset, TSK_VS_TYPE_ENUM type) {
  return library().vs_open(image, offset, type);
}
void vs_close(TSK_VS_INFO* volumes) {
  library().vs_close(volumes);
}
const TSK_VS_PART_INFO* vs_part_get(const TSK_VS_INFO* volumes, TSK_PNUM_T number) {
  return library().vs_part_get(volumes, number);
}
TSK_FS_INFO* fs_open_img(TSK_IMG_INFO* image, TSK_OFF_T offset, TSK_FS_TYPE_ENUM type) {
  return library().fs_open_img(image, offset, type);
}
void fs_close(TSK_FS_INFO* fs) {
  library().fs_close(fs);
}
uint8_t fs_dir_walk(TSK_FS_INFO* fs, TSK_INUM_T folder, TSK_FS_DIR_WALK_FLAG_ENUM flags,
                    TSK_FS_DIR_WALK_CB callback, void* data) {
  return library().fs_dir_walk(fs, folder, flags, callback, data);
}
TSK_FS_FILE* fs_file_open_meta(TSK_FS_INFO* fs, TSK_FS_FILE* file, TSK_INUM_T address) {
  return library().fs_file_open_meta(fs, file, address);
}
void fs_file_close(TSK_FS_FILE* file) {
  library().fs_file_close(file);
}
const TSK_FS_ATTR* fs_file_attr_get(TSK_FS_FILE* file) {
  return library().fs_file_attr_get(file);
}
const char* error_get() {
  return library().error_get();
}
void error_reset() {
  library().error_reset();
}

}  // namespace kbc::evidence::tsk
