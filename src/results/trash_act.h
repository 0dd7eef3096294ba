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
  int Do(ReachedFile& file, const ReachedFile& kept) override;
  bool Stands(const ReachedFile& file) override;
  int Undo(ReachedFile& file) override;
  std::string FailureText(int error) const override;
  std::string Where() const override;
  std::string Place() const override;
  ScannedFile PlaceId() const override { return placeId_; }

 private:
  platform::TrashCan can_;
  std::optional<platform::TrashedFile> last_;
  ScannedFile placeId_;
};

}  // namespace veldrano
