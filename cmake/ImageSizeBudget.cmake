# The one size budget of TolvaneService.efi, in bytes of the image file. The firmware build prints the
# image's size against it, and the test command fails when the image is larger (FirmwareImageWithinSizeBudget).
set(TOLVANE_IMAGE_SIZE_BUDGET 10240)
