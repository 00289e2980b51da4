#include "catalogue/folder_scan.h"

DirectorySearch* gFindFileHandle = nullptr;
long SearchPosition = 0;
std::unique_ptr<std::deque<std::string>> FolderQueue;
