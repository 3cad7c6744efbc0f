// Placeholder until the store lands.
#include "jobresults/cijobresults.h"
