-- 只含空格、制表符的行算作空行；其余各行（包括行首缩进）保持原样。
function main(text)
  local newline = text:find("\r\n", 1, true) and "\r\n" or "\n"
  local lines = {}
  for line in (text:gsub("\r\n", "\n") .. "\n"):gmatch("([^\n]*)\n") do
    if line:find("%S") then
      lines[#lines + 1] = line
    end
  end
  return table.concat(lines, newline)
end
