#pragma once
#include <optional>
#include <string>

#include "platform/trash_can.h"
#include "results/proven_act.h"

namespace veldrano {

// Moving a file to the desktop's Trash, as an act that can be undone: the
// file goes back under its name as long as nothing has taken that name.
class TrashAct : public ReversibleAct {
 public:
  int Do(ReachedFile& file) override;
  bool Stands(const ReachedFile& file) override;
  int Undo(ReachedFile& file) override;
  std::string FailureText(int error) const override;
  std::string Where() const override;

 private:
  platform::TrashCan can_;
  std::optional<platform::TrashedFile> last_;
};

}  // namespace veldrano
