#include "project/ProjectData.h"

UrlQueue g_UrlList;
StringList g_ResourcePatterns;
int g_AllLinks = 0;
