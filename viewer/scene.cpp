#include "viewer/scene.h"

Scene scene;
