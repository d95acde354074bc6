// The Sleuth Kit, loaded when a disk is first read rather than when the program starts: the
// library and the forty it needs (libewf, libafflib with libcurl and GnuTLS, libvmdk, SQLite, ...)
// cost a window that is only shown 12 ms and 8 MiB before its first map. The functions the
// volume reader calls, by the library's names without their "tsk_".
#pragma once

#include <tsk/libtsk.h>

#include <optional>
#include <string>

namespace kbc::evidence::tsk {

// Loads the library once; why it cannot be, or nullopt. Every call below needs it loaded.
std::optional<std::string> load();

TSK_IMG_INFO* img_open_external(void* image, TSK_OFF_T size, unsigned int sector_size,
                                ssize_t (*read)(TSK_IMG_INFO*, TSK_OFF_T, char*, size_t),
                                void (*close)(TSK_IMG_INFO*),
                                void (*imgstat)(TSK_IMG_INFO*, FILE*));
void img_close(TSK_IMG_INFO* image);
TSK_VS_INFO* vs_open(TSK_IMG_INFO* image, TSK_DADDR_T offset, TSK_VS_TYPE_ENUM type);
void vs_close(TSK_VS_INFO* volumes);
const TSK_VS_PART_INFO* vs_part_get(const TSK_VS_INFO* volumes, TSK_PNUM_T number);
TSK_FS_INFO* fs_open_img(TSK_IMG_INFO* image, TSK_OFF_T offset, TSK_FS_TYPE_ENUM type);
void fs_close(TSK_FS_INFO* fs);
uint8_t fs_dir_walk(TSK_FS_INFO* fs, TSK_INUM_T folder, TSK_FS_DIR_WALK_FLAG_ENUM flags,
                    TSK_FS_DIR_WALK_CB callback, void* data);
TSK_FS_FILE* fs_file_open_meta(TSK_FS_INFO* fs, TSK_FS_FILE* file, TSK_INUM_T address);
void fs_file_close(TSK_FS_FILE* file);
const TSK_FS_ATTR* fs_file_attr_get(TSK_FS_FILE* file);
const char* error_get();
void error_reset();

}  // namespace kbc::evidence::tsk
