#include "settings/job_options.h"

namespace quillo {

JobOptions& GetJobOptions() {
  static JobOptions options;
  return options;
}

}  // namespace quillo
