# The one size budget of TolvaneService.efi, in bytes of the image file. The firmware build prints the
# image's size against it, and the test command fails when the image is larger (FirmwareImageWithinSizeBudget).
set(TOLVANE_IMAGE_SIZE_BUDGET 10240)
# The network companion TolvaneNetworkSetup.efi has a budget of its own (NetworkSetupImageWithinSizeBudget).
set(TOLVANE_NETWORK_SETUP_SIZE_BUDGET 4096)
# The field tool tolvane.efi has one too (FieldToolImageWithinSizeBudget).
set(TOLVANE_FIELD_TOOL_SIZE_BUDGET 24576)
