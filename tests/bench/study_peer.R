# Peer for the load study: R's data.table (Debian's r-cran-data.table) on the same month of
# daily logs: fread each and bind them, then the 15-minute means of the current with their
# peak, and the energy of each day. Prints NAME<TAB>median s<TAB>s.
#   Rscript study_peer.R NAME RUNS FILE...
suppressMessages(library(data.table))
arguments <- commandArgs(trailingOnly = TRUE)
name <- arguments[1]
runs <- as.integer(arguments[2])
files <- arguments[-(1:2)]
setDTthreads(0)
times <- numeric(runs)
for (run in seq_len(runs)) {
  start <- Sys.time()
  logs <- rbindlist(lapply(files, fread, select = c("time", "function", "value1", "value2")))
  logs[, t := as.numeric(time)] # fread reads the RFC 3339 times itself, offsets and all
  logs[, va := fifelse(`function` == 1L, value1 * value2, NA_real_)]
  quarters <- logs[, .(current = mean(value1, na.rm = TRUE)), by = .(interval = t %/% 900)]
  peak <- quarters[which.max(current)]
  days <- logs[, .(kvah = mean(va, na.rm = TRUE) * 24 / 1000), by = .(day = t %/% 86400)]
  times[run] <- as.numeric(difftime(Sys.time(), start, units = "secs"))
  stopifnot(nrow(days) > 0, peak$current > 0)
}
cat(sprintf("%s\t%.3f\ts\n", name, median(times)))
