// The fuzz targets load no resource: the simulated machine gets an empty set.
#include <cstddef>
extern const unsigned char g_compiledResources[] = {0};
extern const size_t g_compiledResourcesSize = 0;
