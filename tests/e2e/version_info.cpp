// Test helper: reads a file's version resource the way Windows tools do,
// through GetFileVersionInfoSizeA, GetFileVersionInfoA and VerQueryValueA,
// and prints one "name=value" line per field:
//   version_info FILE
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: version_info FILE\n");
    return 2;
  }
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(argv[1], &ignored);
  std::vector<char> data(size);
  if (size == 0 || !GetFileVersionInfoA(argv[1], 0, size, data.data())) {
    std::fprintf(stderr, "no version information (error %lu)\n",
                 GetLastError());
    return 1;
  }

  void* value = nullptr;
  UINT length = 0;
  if (VerQueryValueA(data.data(), "\\", &value, &length) &&
      length >= sizeof(VS_FIXEDFILEINFO)) {
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    std::printf("fixed.FileVersion=%u.%u.%u.%u\n",
                unsigned{HIWORD(fixed->dwFileVersionMS)},
                unsigned{LOWORD(fixed->dwFileVersionMS)},
                unsigned{HIWORD(fixed->dwFileVersionLS)},
                unsigned{LOWORD(fixed->dwFileVersionLS)});
    std::printf("fixed.ProductVersion=%u.%u.%u.%u\n",
                unsigned{HIWORD(fixed->dwProductVersionMS)},
                unsigned{LOWORD(fixed->dwProductVersionMS)},
                unsigned{HIWORD(fixed->dwProductVersionLS)},
                unsigned{LOWORD(fixed->dwProductVersionLS)});
  }
  if (VerQueryValueA(data.data(), "\\VarFileInfo\\Translation", &value,
                     &length) &&
      length >= 4) {
    const auto* pair = static_cast<const WORD*>(value);
    std::printf("Translation=%04x %u\n", unsigned{pair[0]}, unsigned{pair[1]});
  }
  for (const char* name :
       {"FileDescription", "ProductName", "InternalName", "OriginalFilename",
        "FileVersion", "ProductVersion"}) {
    const std::string path = std::string("\\StringFileInfo\\040904B0\\") + name;
    if (VerQueryValueA(data.data(), path.c_str(), &value, &length)) {
      std::printf("%s=%s\n", name, static_cast<const char*>(value));
    }
  }
  return 0;
}
