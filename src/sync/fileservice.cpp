#include "sync/fileservice.h"

FileService& FileService::sharedInstance()
{
    static FileService instance;
    return instance;
}

void FileService::process() {}
