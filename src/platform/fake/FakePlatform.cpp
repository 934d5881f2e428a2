#include "FakePlatform.h"

FakePlatform &FakePlatform::installNew()
{
    auto platform = std::make_unique<FakePlatform>();
    FakePlatform &ref = *platform;
    Platform::install(std::move(platform));
    return ref;
}
