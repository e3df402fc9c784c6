#include "model/problem.h"

bool Problem::consistent() const {
  const auto factors = static_cast<std::size_t>(nfakt);
  const auto variables = static_cast<std::size_t>(nvar);
  const auto records = static_cast<std::size_t>(nrec);
  return nfakt >= 0 && nvar >= 0 && nrec >= 0 && (offset == 0 || offset == 1) && faktnavn.size() == factors &&
         varnavn.size() == variables && starting_p.size() == variables * factors && fp.size() == variables * factors &&
         rawdata.size() == records * variables && usik.size() == records * variables &&
         (copy_of.empty() || copy_of.size() == records) && (id_end.empty() || id_end.size() == records);
}
