# Runs `npm ci` for the page's packages in DEST. A failure (no registry at hand) is a warning,
# not an error, so that everything else still builds; the stamp is written only on success,
# so the next build tries again.
file(MAKE_DIRECTORY ${DEST})
file(COPY ${SOURCE}/package.json ${SOURCE}/package-lock.json DESTINATION ${DEST})
execute_process(
  COMMAND ${NPM} ci --no-audit --no-fund --loglevel=error --fetch-retries=1
  WORKING_DIRECTORY ${DEST}
  RESULT_VARIABLE result)
if(result EQUAL 0)
  file(TOUCH ${STAMP})
else()
  file(REMOVE ${STAMP})
  message(WARNING "npm ci failed in ${DEST} (${result}): the page of sendra-sim serve lacks three.js "
                  "and the browser test cannot run. The next build tries again.")
endif()
