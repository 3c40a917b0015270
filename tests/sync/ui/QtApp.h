#pragma once
#include "support/qtapp.h"
