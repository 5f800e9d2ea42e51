// mcreg: regression-modelling engine. Including this header gives a host the
// whole public interface of the library.
#pragma once

#include "companion/MCBitSet.h"
#include "companion/MCCancelInfo.h"
#include "companion/MCHashKey.h"
#include "companion/MCMV.h"
#include "companion/MCStatus.h"
#include "companion/Record.h"
#include "companion/RecordIterator.h"
